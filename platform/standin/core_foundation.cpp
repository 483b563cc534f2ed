#include <unicode/ustring.h>

#include <algorithm>

#include "platform/standin/objects.h"

using standin::as;
using standin::Object;

namespace {

Object* object(CFTypeRef ref, const char* operation) {
    if (ref == nullptr) {
        standin::misuse(operation);
    }
    return static_cast<Object*>(const_cast<void*>(ref));
}

__CFBoolean trueValue(true);
__CFBoolean falseValue(false);
__CFString commonModes(u"kCFRunLoopCommonModes", true);
__CFString defaultMode(u"kCFRunLoopDefaultMode", true);

}  // namespace

__CFArray::~__CFArray() {
    for (CFTypeRef value : values) {
        CFRelease(value);
    }
}

extern "C" {

const CFAllocatorRef kCFAllocatorDefault = nullptr;
const CFRunLoopMode kCFRunLoopCommonModes = &commonModes;
const CFRunLoopMode kCFRunLoopDefaultMode = &defaultMode;
const CFBooleanRef kCFBooleanTrue = &trueValue;
const CFBooleanRef kCFBooleanFalse = &falseValue;

CFTypeRef CFRetain(CFTypeRef cf) {
    ++object(cf, "CFRetain")->retainCount;
    return cf;
}

void CFRelease(CFTypeRef cf) {
    Object* released = object(cf, "CFRelease");
    if (released->isConstant) {
        return;
    }
    if (--released->retainCount == 0) {
        delete released;
    }
}

CFTypeID CFGetTypeID(CFTypeRef cf) {
    return object(cf, "CFGetTypeID")->typeId;
}

// Two elements are equal when they stand for the same element, as the platform's are when they
// name the same object of the same process; strings by their text; anything else by identity.
Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2) {
    const auto* first = object(cf1, "CFEqual");
    const auto* second = object(cf2, "CFEqual");
    if (first == second) {
        return true;
    }
    if (first->typeId != second->typeId) {
        return false;
    }
    if (first->typeId == standin::elementType) {
        return static_cast<const __AXUIElement*>(first)->id ==
               static_cast<const __AXUIElement*>(second)->id;
    }
    if (first->typeId == standin::stringType) {
        return static_cast<const __CFString*>(first)->units ==
               static_cast<const __CFString*>(second)->units;
    }
    return false;
}

CFTypeID CFStringGetTypeID(void) {
    return standin::stringType;
}
CFTypeID CFArrayGetTypeID(void) {
    return standin::arrayType;
}
CFTypeID CFBooleanGetTypeID(void) {
    return standin::booleanType;
}
CFTypeID CFNumberGetTypeID(void) {
    return standin::numberType;
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean) {
    if (encoding != kCFStringEncodingUTF8 || numBytes < 0 || numBytes > INT32_MAX) {
        return nullptr;
    }
    // Strict, as the platform: malformed UTF-8 gives no string.
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    const auto* source = reinterpret_cast<const char*>(bytes);
    const auto sourceLength = static_cast<int32_t>(numBytes);
    u_strFromUTF8(nullptr, 0, &length, source, sourceLength, &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) {
        return nullptr;
    }
    std::u16string units(static_cast<size_t>(length), u'\0');
    status = U_ZERO_ERROR;
    u_strFromUTF8(reinterpret_cast<UChar*>(units.data()), length, nullptr, source, sourceLength,
                  &status);
    if (U_FAILURE(status)) {
        return nullptr;
    }
    return new __CFString(std::move(units));
}

CFStringRef CFStringCreateWithCharacters(CFAllocatorRef, const UniChar* chars, CFIndex numChars) {
    if (numChars < 0) {
        return nullptr;
    }
    return new __CFString(
        std::u16string(reinterpret_cast<const char16_t*>(chars), static_cast<size_t>(numChars)));
}

CFIndex CFStringGetLength(CFStringRef theString) {
    return static_cast<CFIndex>(as<__CFString>(theString, "CFStringGetLength")->units.size());
}

void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar* buffer) {
    const auto& units = as<__CFString>(theString, "CFStringGetCharacters")->units;
    if (range.location < 0 || range.length < 0 ||
        static_cast<size_t>(range.location + range.length) > units.size()) {
        standin::misuse("CFStringGetCharacters");
    }
    std::copy_n(units.begin() + range.location, range.length, buffer);
}

CFIndex CFArrayGetCount(CFArrayRef theArray) {
    return static_cast<CFIndex>(as<__CFArray>(theArray, "CFArrayGetCount")->values.size());
}

const void* CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) {
    const auto& values = as<__CFArray>(theArray, "CFArrayGetValueAtIndex")->values;
    if (idx < 0 || static_cast<size_t>(idx) >= values.size()) {
        standin::misuse("CFArrayGetValueAtIndex");
    }
    return values[static_cast<size_t>(idx)];
}

Boolean CFBooleanGetValue(CFBooleanRef boolean) {
    return as<__CFBoolean>(boolean, "CFBooleanGetValue")->value;
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr) {
    const double value = as<__CFNumber>(number, "CFNumberGetValue")->value;
    switch (theType) {
        case kCFNumberDoubleType:
            *static_cast<double*>(valuePtr) = value;
            return true;
        case kCFNumberSInt64Type: {
            // Lossy conversions still write a value, and say so, as the platform does.
            const bool fits = value >= -9.2233720368547758e18 && value < 9.2233720368547758e18;
            const auto whole = fits ? static_cast<int64_t>(value) : int64_t{0};
            *static_cast<int64_t*>(valuePtr) = whole;
            return fits && static_cast<double>(whole) == value;
        }
    }
    standin::misuse("CFNumberGetValue");
}

}  // extern "C"
