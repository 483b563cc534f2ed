#include "fieldscan/visible_text.h"

#include <algorithm>

#include "axquery/axquery.h"
#include "fieldscan/attributes.h"
#include "platform/text.h"

namespace {

// What is left of one walk's element allowance.
struct Walk {
    size_t elementsLeft = VisibleText::elementsPerWalk;
    size_t childrenLeft = VisibleText::childrenPerWalk;

    // The element's children, as many of the first as the walk may still take; nothing, and
    // no request, once it has taken its allowance.
    std::vector<CFRef<AXUIElementRef>> children(AXUIElementRef element) {
        if (childrenLeft == 0) {
            return {};
        }
        auto taken = copyAttributeElementsOnly(element, Attribute::children, childrenLeft);
        childrenLeft -= taken.size();
        return taken;
    }

    // Takes one element, or says that the walk may enter no further element.
    bool enter(int depth) {
        if (depth > VisibleText::deepestLevel || elementsLeft == 0) {
            return false;
        }
        --elementsLeft;
        return true;
    }
};

CFRef<AXUIElementRef> searchWebArea(AXUIElementRef element, int depth, Walk& walk) {
    if (!walk.enter(depth)) {
        return {};
    }
    if (role(element) == VisibleText::axWebAreaRole) {
        return CFRef<AXUIElementRef>::retain(element);
    }
    const auto children = walk.children(element);
    for (const auto& child : children) {
        if (auto found = searchWebArea(child.get(), depth + 1, walk)) {
            return found;
        }
    }
    return {};
}

void gather(AXUIElementRef element, int depth, size_t limit, TextBucket& bucket, Walk& walk) {
    if (bucket.size() >= limit || !walk.enter(depth)) {
        return;
    }
    appendIfMeaningful(copyAttributeString(element, Attribute::value), bucket);
    appendIfMeaningful(copyAttributeString(element, Attribute::description), bucket);
    appendIfMeaningful(copyAttributeString(element, Attribute::title), bucket);
    const auto children = walk.children(element);
    for (const auto& child : children) {
        gather(child.get(), depth + 1, limit, bucket, walk);
        if (bucket.size() >= limit || walk.elementsLeft == 0) {
            return;
        }
    }
}

std::u16string joinedLines(TextBucket lines) {
    size_t total = 0;
    for (const auto& line : lines) {
        total += line.size() + 1;
    }
    std::u16string joined;
    joined.reserve(total);
    for (auto& line : lines) {
        if (!joined.empty()) {
            joined += VisibleText::lineSeparator;
        }
        joined += line;
        std::u16string().swap(line);  // a page's lines can be long; hold each once
    }
    return joined;
}

}  // namespace

std::u16string resolveVisibleText(AXUIElementRef focused, AXUIElementRef application,
                                  bool isBrowser) {
    CFRef<AXUIElementRef> webArea;
    if (isBrowser) {
        webArea = findWebArea(focused);
        if (!webArea) {
            if (const auto window = copyAttributeElement(application, Attribute::focusedWindow)) {
                webArea = findWebArea(window.get());
            }
        }
    }
    const AXUIElementRef root = webArea ? webArea.get() : focused;
    std::u16string text = copyAttributeString(root, Attribute::value).value_or(u"");
    if (text.empty() && isBrowser) {
        TextBucket bucket;
        collectVisibleTexts(root, 0, VisibleText::lineLimit, bucket);
        text = joinedLines(std::move(bucket));
    }
    return text;
}

CFRef<AXUIElementRef> findWebArea(AXUIElementRef startingAt, int depth) {
    Walk walk;
    return searchWebArea(startingAt, depth, walk);
}

void collectVisibleTexts(AXUIElementRef from, int depth, size_t limit, TextBucket& bucket) {
    Walk walk;
    gather(from, depth, limit, bucket, walk);
}

void appendIfMeaningful(std::optional<std::u16string> text, TextBucket& into) {
    if (!text) {
        return;
    }
    const std::u16string_view kept = trimmed(*text);
    if (kept.empty()) {
        return;
    }
    // Trimmed in place: a value can run to megabytes.
    const auto start = static_cast<size_t>(kept.data() - text->data());
    text->erase(start + kept.size());
    text->erase(0, start);
    // An exact copy is the usual repeat and needs no Unicode work; the canonical comparison
    // runs only when there is none.
    const bool repeated = std::find(into.begin(), into.end(), *text) != into.end() ||
                          std::any_of(into.begin(), into.end(), [&](const std::u16string& entry) {
                              return canonicallyEqual(entry, *text);
                          });
    if (!repeated) {
        into.push_back(std::move(*text));
    }
}
