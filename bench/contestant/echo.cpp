// The smallest contestant: "ready", then the move number alone for every move; what the round trip is measured with.
#include <cstdio>
#include <cstring>

int main() {
    char Line[512];
    if (!std::fgets(Line, sizeof Line, stdin)) return 1;
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    while (std::fgets(Line, sizeof Line, stdin)) {
        unsigned long Move = 0;
        if (std::sscanf(Line, "move %lu", &Move) != 1) return 0;
        std::printf("%lu\n", Move);
        std::fflush(stdout);
    }
    return 0;
}
