// The least a contestant can be, in plain C calls: "ready", then each move's number straight back.
// The protocol benchmark measures the arena's side of a round trip against it.
#include <unistd.h>

#include <cstring>

namespace {

bool WriteAll(const char* Text, std::size_t Length) {
    while (Length > 0) {
        const ssize_t Done = write(1, Text, Length);
        if (Done <= 0) return false;
        Text += Done;
        Length -= static_cast<std::size_t>(Done);
    }
    return true;
}

}  // namespace

int main() {
    char Buffer[4096];
    std::size_t Held = 0;
    for (;;) {
        const ssize_t Got = read(0, Buffer + Held, sizeof Buffer - Held);
        if (Got <= 0) return 0;
        Held += static_cast<std::size_t>(Got);
        char* Start = Buffer;
        char* End;
        while ((End = static_cast<char*>(std::memchr(Start, '\n', Buffer + Held - Start))) != nullptr) {
            *End = '\0';
            if (std::strncmp(Start, "brakkenfel ", 11) == 0) {
                if (!WriteAll("ready\n", 6)) return 0;
            } else if (std::strncmp(Start, "move ", 5) == 0) {
                // "move N ...": answer "N".
                const char* Number = Start + 5;
                const std::size_t Digits = std::strspn(Number, "0123456789");
                char Reply[32];
                std::memcpy(Reply, Number, Digits);
                Reply[Digits] = '\n';
                if (!WriteAll(Reply, Digits + 1)) return 0;
            } else {
                return 0;  // "quit"
            }
            Start = End + 1;
        }
        Held = static_cast<std::size_t>(Buffer + Held - Start);
        std::memmove(Buffer, Start, Held);
    }
}
