// Runs a fuzz target on the files named, three times each, without libFuzzer: for builds whose
// sanitizer cannot run beside libFuzzer's coverage counters (ThreadSanitizer sees the
// counters every thread bumps as races).
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        std::stringstream bytes;
        bytes << file.rdbuf();
        const std::string input = bytes.str();
        for (int round = 0; round < 3; ++round) {
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
        }
    }
    std::printf("%d inputs\n", argc - 1);
    return 0;
}
