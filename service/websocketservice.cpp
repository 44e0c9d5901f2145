// WebSocket service (placeholder until the spine lands).
