// Runs a program with an emulated pad plugged in and, after it ended, reports
// what the pad saw on stderr, in the desktop tests' trace format:
//   desk_padhost MODEL -- PROGRAM ARGS...
// "@PROGRAM@" in the arguments stands for $VT_PADHOST_EXE (the program's own
// name must not appear on this command line: its single-instance check would
// count this process). Exit code: the program's.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "padsim.h"

int main(int argc, char** argv)
{
    if (argc < 4 || std::string(argv[2]) != "--") {
        std::fprintf(stderr, "usage: desk_padhost MODEL -- PROGRAM ARGS...\n");
        return 2;
    }
    const char* exe = std::getenv("VT_PADHOST_EXE");
    std::vector<std::string> program;
    for (int i = 3; i < argc; ++i)
        program.push_back(std::string(argv[i]) == "@PROGRAM@" && exe ? exe : argv[i]);

    padsim::Bed bed;
    padsim::ModelPtr model = padsim::models::byName(argv[1]);
    if (!model) {
        std::fprintf(stderr, "desk_padhost: unknown model %s\n", argv[1]);
        return 2;
    }
    padsim::Pad& pad = bed.plug(std::move(model));
    padsim::Child child = bed.start(program);
    if (child.pid() < 0)
        return 127;
    int rc;
    while ((rc = child.wait(padsim::Millis(60000))) == -1) {
    }
    int screenOn = 0, screenOff = 0;
    const auto on = padsim::isSetReport(0x00), off = padsim::isSetReport(0x40);
    for (const padsim::Transfer& t : pad.received()) {
        screenOn += on(t) ? 1 : 0;
        screenOff += off(t) ? 1 : 0;
    }
    std::fprintf(stderr, "vt-test: padhost exit %d screen-on %d screen-off %d\n", rc, screenOn, screenOff);
    return rc;
}
