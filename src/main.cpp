#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/RenderCommands.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: quorbit render --filter NAME|SLOT --input IMAGE --output PNG "
                 "[--camera back|front]\n"
                 "       quorbit contact-sheet [--input IMAGE] --output PNG [--camera back|front]\n"
                 "       quorbit --version\n");
    return quorbit::app::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return usage();
    std::string command = args.front();
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "--version") {
        std::printf("quorbit %s\n", QUORBIT_VERSION);
        return 0;
    }
    if (command == "render") return quorbit::app::runRender(rest);
    if (command == "contact-sheet") return quorbit::app::runContactSheet(rest);
    std::fprintf(stderr, "quorbit: unknown command '%s'\n", command.c_str());
    return usage();
}
