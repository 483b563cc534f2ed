// Objects' lifetimes: every object the stand-in makes counts as live until its last release, so
// that the exit record shows what a program leaked.
#include <cstdio>
#include <cstdlib>

#include "platform/standin/standin.h"
#include "platform/standin/world.h"

namespace standin {
namespace {

long liveCount = 0;

}  // namespace

Object::Object(CFTypeID id, bool constant) : typeId(id), isConstant(constant) {
    if (!isConstant) {
        ++liveCount;
    }
}

Object::~Object() {
    if (!isConstant) {
        --liveCount;
    }
}

void misuse(const char* operation) {
    std::fprintf(stderr, "standin: %s called with an invalid object\n", operation);
    std::abort();
}

long liveObjects() {
    return liveCount;
}

}  // namespace standin
