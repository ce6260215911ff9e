// ddtool's output file on Windows, one step at a time, for check-ddtool to
// act on the folder in between as someone who may write it could:
//   output_file_step FILE [--force]
// makes the temporary file beside FILE and prints "temporary: NAME", waits
// for a line on standard input (the read of the card, meanwhile), then
// writes one block and gives it FILE's name: "placed", exit code 0; or
// "refused: WHY", exit code 3.
#include "files.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3 || (argc == 3 && std::strcmp(argv[2], "--force") != 0)) {
        std::puts("usage: output_file_step FILE [--force]");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    ddtool::OutputFile output;
    std::string why;
    if (!output.prepare(argv[1], argc == 3, why)) {
        std::printf("refused: %s\n", why.c_str());
        return 3;
    }
    std::printf("temporary: %s\n", output.temporaryName().c_str());
    char line[16];
    if (!std::fgets(line, sizeof line, stdin))
        return 2;
    const std::vector<std::uint8_t> block(512, 0x5A);
    if (!output.commit(block, why)) {
        std::printf("refused: %s\n", why.c_str());
        return 3;
    }
    std::puts("placed");
    return 0;
}
