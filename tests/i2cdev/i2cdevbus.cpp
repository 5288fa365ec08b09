// Runs a program on an emulated kernel I2C bus: /dev/i2c-1 with its
// /sys/class/i2c-dev entry, a bvr60600 at 0x70 behind it. For trying
// panelctl or panelapp on a "kernel bus" without one, and for the tests.
//
//   umockdev-wrapper i2cdevbus [--name NAME] [--smbus-only] [--record FILE] -- PROGRAM [ARGS...]
//
// --record FILE writes, when the program has ended, every slave address a
// message went to, one a line ("0x70"). The exit code is the program's.

#include "emulatedi2cbus.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: umockdev-wrapper i2cdevbus [--name NAME] [--smbus-only] "
                         "[--record FILE] -- PROGRAM [ARGS...]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    std::string name = "i2c-tiny-usb at bus 001 device 004";
    std::string record;
    unsigned long functionality = EmulatedI2cBus::FullI2c;
    int first = 1;
    for (; first < argc; ++first) {
        const std::string arg = argv[first];
        if (arg == "--") {
            ++first;
            break;
        }
        if (arg == "--name" && first + 1 < argc)
            name = argv[++first];
        else if (arg == "--record" && first + 1 < argc)
            record = argv[++first];
        else if (arg == "--smbus-only")
            functionality = EmulatedI2cBus::SmbusOnly;
        else
            return usage();
    }
    if (first >= argc)
        return usage();
    if (!EmulatedI2cBus::inMockEnvironment()) {
        std::fprintf(stderr, "i2cdevbus: start it under umockdev-wrapper\n");
        return 2;
    }

    EmulatedI2cBus bus;
    bus.addBus(1, name, functionality);

    // The program inherits the preload library and UMOCKDEV_DIR; the bus
    // answers it from a thread of this process while it runs.
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("i2cdevbus: fork");
        return 2;
    }
    if (child == 0) {
        ::execvp(argv[first], argv + first);
        std::fprintf(stderr, "i2cdevbus: cannot run %s: %s\n", argv[first], std::strerror(errno));
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }

    if (!record.empty()) {
        if (FILE *file = std::fopen(record.c_str(), "w")) {
            bus.with(1, [file](EmulatedI2cBus::Bus &state) {
                for (uint16_t address : state.addressed)
                    std::fprintf(file, "0x%02x\n", address);
            });
            std::fclose(file);
        }
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
