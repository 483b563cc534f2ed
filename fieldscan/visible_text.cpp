#include "fieldscan/visible_text.h"

#include <algorithm>

#include "axquery/axquery.h"
#include "fieldscan/attributes.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace {

constexpr const char* parentAttribute = "AXParent";

// The end of the search's time budget, on the monotonic clock.
class Deadline {
  public:
    Deadline() : end(monotonicNanoseconds() + VisibleText::searchBudgetNanoseconds) {}
    bool passed() const { return monotonicNanoseconds() >= end; }

  private:
    uint64_t end;
};

// What is left of one walk's element allowance, and the requests of the search, each made only
// while the budget lasts and never for what is known of the focused element.
struct Walk {
    const Deadline& deadline;
    const FocusedElement* focused = nullptr;
    size_t elementsLeft = VisibleText::elementsPerWalk;
    size_t childrenLeft = VisibleText::childrenPerWalk;

    bool isFocused(AXUIElementRef element) const {
        return focused != nullptr && focused->element != nullptr &&
               CFEqual(element, focused->element);
    }

    std::u16string roleOf(AXUIElementRef element) const {
        if (isFocused(element)) {
            return focused->role;
        }
        return deadline.passed() ? std::u16string() : role(element);
    }

    std::optional<std::u16string> value(AXUIElementRef element) const {
        return isFocused(element) ? focused->value : text(element, Attribute::value);
    }

    std::optional<std::u16string> text(AXUIElementRef element, const char* attribute) const {
        return deadline.passed() ? std::nullopt : copyAttributeString(element, attribute);
    }

    // The element's children, as many of the first as the walk may still take; nothing, and
    // no request, once it has taken its allowance.
    std::vector<CFRef<AXUIElementRef>> children(AXUIElementRef element) {
        if (childrenLeft == 0 || deadline.passed()) {
            return {};
        }
        auto taken = copyAttributeElementsOnly(element, Attribute::children, childrenLeft);
        childrenLeft -= taken.size();
        return taken;
    }

    // Takes one element, or says that the walk may enter no further element.
    bool enter(int depth) {
        if (depth > VisibleText::deepestLevel || elementsLeft == 0 || deadline.passed()) {
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
    if (walk.roleOf(element) == VisibleText::axWebAreaRole) {
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
    appendIfMeaningful(walk.value(element), bucket);
    appendIfMeaningful(walk.text(element, Attribute::description), bucket);
    appendIfMeaningful(walk.text(element, Attribute::title), bucket);
    const auto children = walk.children(element);
    for (const auto& child : children) {
        gather(child.get(), depth + 1, limit, bucket, walk);
        if (bucket.size() >= limit || walk.elementsLeft == 0) {
            return;
        }
    }
}

// Up from the focus: WebKit and Chromium answer the parent of every element of a page, and the
// nearest web area is the document that holds the focus.
CFRef<AXUIElementRef> searchAncestors(const FocusedElement& focused, const Deadline& deadline) {
    if (focused.role == VisibleText::axWebAreaRole) {
        return CFRef<AXUIElementRef>::retain(focused.element);
    }
    auto current = CFRef<AXUIElementRef>::retain(focused.element);
    for (int step = 0; step < VisibleText::ancestorsSearched && !deadline.passed(); ++step) {
        current = copyAttributeElement(current.get(), parentAttribute);
        // A chain that comes back to the focus goes round: its role is known already.
        if (!current || deadline.passed() || CFEqual(current.get(), focused.element)) {
            return {};
        }
        if (role(current.get()) == VisibleText::axWebAreaRole) {
            return current;
        }
    }
    return {};
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

std::u16string resolveVisibleText(const FocusedElement& focused, AXUIElementRef application,
                                  bool isBrowser) {
    const Deadline deadline;
    CFRef<AXUIElementRef> webArea;
    if (isBrowser) {
        webArea = searchAncestors(focused, deadline);
        if (!webArea) {
            Walk walk{deadline, &focused};
            webArea = searchWebArea(focused.element, 0, walk);
        }
        if (!webArea && !deadline.passed()) {
            if (const auto window = copyAttributeElement(application, Attribute::focusedWindow)) {
                Walk walk{deadline, &focused};
                webArea = searchWebArea(window.get(), 0, walk);
            }
        }
    }
    const AXUIElementRef root = webArea ? webArea.get() : focused.element;
    Walk walk{deadline, &focused};
    std::u16string text = walk.value(root).value_or(u"");
    if (text.empty() && isBrowser) {
        TextBucket bucket;
        gather(root, 0, VisibleText::lineLimit, bucket, walk);
        text = joinedLines(std::move(bucket));
    }
    return text;
}

CFRef<AXUIElementRef> findWebArea(AXUIElementRef startingAt, int depth) {
    const Deadline deadline;
    Walk walk{deadline};
    return searchWebArea(startingAt, depth, walk);
}

void collectVisibleTexts(AXUIElementRef from, int depth, size_t limit, TextBucket& bucket) {
    const Deadline deadline;
    Walk walk{deadline};
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
