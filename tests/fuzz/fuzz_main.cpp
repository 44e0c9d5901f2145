// Runs a fuzz target over files, for builds without libFuzzer: every file
// named, and every file in every folder named, once each.
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

bool RunFile(const std::string& path)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    std::vector<uint8_t> bytes;
    uint8_t buf[65536];
    for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;)
        bytes.insert(bytes.end(), buf, buf + n);
    fclose(f);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    int nRun = 0;
    for (int i = 1; i < argc; ++i) {
        struct stat st;
        if (stat(argv[i], &st) != 0) {
            fprintf(stderr, "no such input: %s\n", argv[i]);
            return 2;
        }
        if (!S_ISDIR(st.st_mode)) {
            nRun += RunFile(argv[i]);
            continue;
        }
        DIR* dir = opendir(argv[i]);
        for (dirent* e; dir && (e = readdir(dir));) {
            const std::string path = std::string(argv[i]) + "/" + e->d_name;
            if (e->d_name[0] != '.' && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
                nRun += RunFile(path);
        }
        if (dir)
            closedir(dir);
    }
    printf("%d inputs run\n", nRun);
    return nRun > 0 ? 0 : 2; // a target without inputs tested nothing
}
