// A program with what hardening protects: a local buffer (the stack protector) and copies into it
// of a size the compiler knows (glibc's checked functions). Built, never run.
#include <cstdio>
#include <cstring>

#if defined(TOCKMERE_PROBE_WX)
// A section both writable and executable, which no hardened program may have.
#if defined(_WIN32)
asm(".section .wxprobe,\"wx\"\n.byte 0\n.text");
#else
asm(".section .wxprobe,\"awx\",@progbits\n.byte 0\n.text");
#endif
#endif

int main(int argc, char** argv) {
    char buffer[16];
    std::snprintf(buffer, sizeof(buffer), "%d", argc);
    const std::size_t length = std::strlen(argv[0]) % sizeof(buffer);  // at most 15
    std::memcpy(buffer, argv[0], length);
    buffer[length] = '\0';
    std::puts(buffer);
    return 0;
}
