#include <sys/sysctl.h>
#include <sys/utsname.h>

#include <array>

#include "platform/system.h"

SystemVersion systemVersion() {
    SystemVersion version;
    std::array<char, 64> product{};
    size_t size = product.size();
    if (sysctlbyname("kern.osproductversion", product.data(), &size, nullptr, 0) == 0) {
        version.productVersion = product.data();
    }
    utsname machine{};
    if (uname(&machine) == 0) {
        version.architecture = machine.machine;
    }
    return version;
}
