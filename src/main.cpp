#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc > 1 && !std::strcmp(argv[1], "--version")) {
        std::printf("quorbit %s\n", QUORBIT_VERSION);
        return 0;
    }
    std::fprintf(stderr, "usage: quorbit render|contact-sheet ...\n");
    return 2;
}
