#pragma once

// Files written on a page's request. The name comes from the page, so it
// is checked before anything is written, and the file is first written
// under a fresh name beside it, then renamed into place: a symbolic link
// planted at the name is replaced, never written through.
#include <QString>

class SafeFileWrite
{
public:
    // Which suffixes a file of an image type may have.
    enum class Kind {
        Raster, // .bmp .jpg .jpeg .png
        Pdf,    // .pdf
        Svg     // .svg
    };
    // The kind of a file that SaveDrawingImage writes for nType; false for
    // a type that writes no file.
    static bool KindOfType(int nType, Kind* pKind);

    SafeFileWrite() = default;
    SafeFileWrite(const SafeFileWrite&) = delete;
    SafeFileWrite& operator=(const SafeFileWrite&) = delete;
    // Drops the fresh file unless it was committed.
    ~SafeFileWrite();

    // Checks strPath (absolute, or relative to the working folder) and
    // creates the fresh file. False, with the reason in Why(), for a NUL
    // in the name, a ".." component, a suffix that does not fit kind, a
    // folder under /tmp/ reached through a symbolic link, or a folder that
    // cannot be opened.
    bool Prepare(const QString& strPath, Kind kind);
    // Where the writer writes: the fresh file, through a handle on its
    // folder, with the final name's suffix (writers pick the format by it).
    QString WritePath() const { return m_strWritePath; }
    // Moves the written file to the final name.
    bool Commit();

    QString Why() const { return m_strWhy; }

private:
    bool Fail(const QString& strWhy);

    int m_nDirFd = -1;
    QString m_strTempName; // in the folder
    QString m_strFinalName;
    QString m_strWritePath;
    QString m_strWhy;
    bool m_bCommitted = false;
};
