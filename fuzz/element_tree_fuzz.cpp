// Other applications report their accessibility trees: roles of any type, children lists with
// repeats, cycles and entries that are not elements, parents that loop. Over any such tree the
// walks of fieldscan and the searches of targetprobe must stay within their request bounds,
// find what their walk order says they find, and release everything they obtained.
#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "axquery/axquery.h"
#include "fieldscan/visible_text.h"
#include "fuzz/fuzz_input.h"
#include "platform/accessibility.h"
#include "platform/cf_ref.h"
#include "platform/standin/standin.h"
#include "platform/text.h"
#include "targetprobe/insertable_element_search.h"

using fuzz::require;

namespace {

// The bounds, written out rather than taken from the headers, so that a changed constant
// shows up here.
constexpr int deepestLevel = 6;            // both fieldscan walks look at depths 0 to 6
constexpr size_t elementsPerWalk = 10000;  // and enter this many elements at most
constexpr size_t lineLimit = 120;
constexpr long upwardRequestsAtMost = 6 * 8 + 6;
constexpr long downwardRequestsAtMost = 2 + 119 * 8 + 120;
constexpr size_t upwardElementsTested = 6;
constexpr size_t descendantEntriesTaken = 120;
constexpr int descendantMaxDepth = 5;
constexpr int ancestorsSearched = 20;

// Small trees keep a run fast: with three entries a list, repeats make a walk of 1093 elements
// at most. (The walk cap of 10000 would take seconds a run through the stand-in.)
constexpr size_t maxElements = 12;
constexpr size_t maxChildren = 3;

// One attribute value as the scenario gives it.
struct Value {
    enum class Form { text, number, boolean, element, array, range, attributed, null, error };
    Form form = Form::null;
    std::u16string text;
    double number = 0;
    bool boolean = false;
    size_t element = 0;
    std::vector<Value> items;
    int64_t range[2] = {0, 0};
    int32_t error = 0;
};

enum class Settable { yes, no, error };

struct Element {
    std::map<std::string, Value> attributes;
    std::optional<Settable> valueSettable;
};

using Tree = std::vector<Element>;

std::string idOf(size_t element) {
    return "e" + std::to_string(element);
}

Value textValue(std::u16string text) {
    Value v;
    v.form = Value::Form::text;
    v.text = std::move(text);
    return v;
}

Value numberValue(double number) {
    Value v;
    v.form = Value::Form::number;
    v.number = number;
    return v;
}

Value booleanValue(bool boolean) {
    Value v;
    v.form = Value::Form::boolean;
    v.boolean = boolean;
    return v;
}

Value elementValue(size_t element) {
    Value v;
    v.form = Value::Form::element;
    v.element = element;
    return v;
}

Value arrayValue(std::vector<Value> items) {
    Value v;
    v.form = Value::Form::array;
    v.items = std::move(items);
    return v;
}

Value formValue(Value::Form form) {
    Value v;
    v.form = form;
    return v;
}

nlohmann::json toJson(const Value& v) {
    using Form = Value::Form;
    switch (v.form) {
        case Form::text: {
            // Code units as they are: lone surrogate halves included.
            auto units = nlohmann::json::array();
            for (const char16_t unit : v.text) {
                units.push_back(static_cast<unsigned>(unit));
            }
            return {{"utf16", units}};
        }
        case Form::number:
            return v.number;
        case Form::boolean:
            return v.boolean;
        case Form::element:
            return {{"element", idOf(v.element)}};
        case Form::array: {
            auto items = nlohmann::json::array();
            for (const auto& item : v.items) {
                items.push_back(toJson(item));
            }
            return {{"array", items}};
        }
        case Form::range:
            return {{"range", {v.range[0], v.range[1]}}};
        case Form::attributed:
            return {{"attributedString", "AXWebArea"}};
        case Form::null:
            return nullptr;
        case Form::error:
            return {{"error", v.error}};
    }
    return nullptr;
}

// Builds a tree from the input; an exhausted input gives elements without attributes.
class TreeMaker {
  public:
    TreeMaker(fuzz::Input& input, size_t elementCount) : in(input), count(elementCount) {}

    Element element(size_t index) {
        Element made;
        auto& a = made.attributes;
        a["AXIdentifier"] = textValue(utf16Id(index));
        put(a, "AXRole", name());
        if (in.below(3) != 0) {
            put(a, "AXSubrole", name());
        }
        put(a, "AXValue", text());
        put(a, "AXDescription", text());
        put(a, "AXTitle", text());
        put(a, "AXChildren", children());
        put(a, "AXParent", parent());
        put(a, "AXEditable", editable());
        put(a, "AXDOMEditable", editable());
        put(a, "AXSelectedTextRange", selectedRange());
        put(a, "AXSelectedTextMarkerRange", markerRange());
        put(a, "AXEditableAncestor", parent());
        switch (in.below(4)) {
            case 1:
                made.valueSettable = Settable::yes;
                break;
            case 2:
                made.valueSettable = Settable::no;
                break;
            case 3:
                made.valueSettable = Settable::error;
                break;
            default:
                break;
        }
        return made;
    }

    std::optional<Value> window() {
        switch (in.below(3)) {
            case 1:
                return elementValue(in.below(count));
            case 2:
                return error();
            default:
                return std::nullopt;
        }
    }

    static std::u16string utf16Id(size_t index) {
        const std::string id = idOf(index);
        return std::u16string(id.begin(), id.end());
    }

  private:
    static void put(std::map<std::string, Value>& into, const char* attribute,
                    std::optional<Value> value) {
        if (value) {
            into[attribute] = std::move(*value);
        }
    }

    Value error() {
        // 0 is a success status without a value.
        static constexpr int32_t codes[] = {-25212, -25205, -25204, -25201, 0};
        Value v = formValue(Value::Form::error);
        v.error = codes[in.below(std::size(codes))];
        return v;
    }

    // A role or subrole: one of the tables' entries, a near miss, or no text at all.
    std::optional<Value> name() {
        static constexpr std::u16string_view names[] = {
            u"AXWebArea",        u"AXTextField",   u"AXTextArea",   u"AXComboBox",
            u"AXSearchField",    u"AXTextView",    u"AXGroup",      u"AXWindow",
            u"AXScrollArea",     u"AXApplication", u"AXSplitGroup", u"AXToolbar",
            u"AXList",           u"AXTable",       u"AXBrowser",    u"AXOutline",
            u"AXCollectionView", u"AXStaticText",  u"AXButton",     u"",
            u"AXWebArea ",       u"axwebarea"};
        const size_t k = in.below(std::size(names) + 6);
        switch (k) {
            case 0:
                return std::nullopt;
            case 1:
                return numberValue(1);
            case 2:
                return formValue(Value::Form::attributed);
            case 3:
                return error();
            case 4:
                return formValue(Value::Form::null);
            case 5:
                return elementValue(in.below(count));
            default:
                return textValue(std::u16string(names[k - 6]));
        }
    }

    // A text attribute: texts that trim, repeat or differ only canonically, any units, or a
    // value that is no text.
    std::optional<Value> text() {
        static constexpr std::u16string_view texts[] = {
            u"hello",    u"  hello \n", u"Hello",      u"e\u0301",
            u"\u00e9",   u"\u00a0",     u"\u0085",     u"\xD800",
            u"a\xDC00z", u" ",          u"\uFEFF",     u"x/y\"z\\",
            u"\u212B",   u"\u00C5",     u"\U0001F600", u"\u2028line\u2029"};
        switch (in.below(8)) {
            case 0:
                return std::nullopt;
            case 4:
                return textValue(in.text(10));
            case 5:
                return in.flag() ? numberValue(1) : booleanValue(in.flag());
            case 6:
                return in.flag() ? error() : formValue(Value::Form::attributed);
            case 7:
                return in.flag() ? formValue(Value::Form::null) : elementValue(in.below(count));
            default:  // mostly texts, so that a small tree can fill a bucket
                return textValue(std::u16string(texts[in.below(std::size(texts))]));
        }
    }

    // Any element, itself and its ancestors included: repeats and cycles.
    Value entry() {
        switch (in.below(8)) {
            case 5:
                return textValue(u"AXGroup");
            case 6:
                return in.flag() ? numberValue(3) : booleanValue(true);
            case 7:
                return arrayValue({elementValue(in.below(count))});
            default:
                return elementValue(in.below(count));
        }
    }

    std::optional<Value> children() {
        switch (in.below(6)) {
            case 0:
                return std::nullopt;
            case 3:
                return elementValue(in.below(count));  // not in a list
            case 4:
                return error();
            case 5:
                return textValue(u"AXChildren");
            default: {
                std::vector<Value> items(in.below(maxChildren + 1));
                for (auto& item : items) {
                    item = entry();
                }
                return arrayValue(std::move(items));
            }
        }
    }

    std::optional<Value> parent() {
        switch (in.below(5)) {
            case 0:
                return std::nullopt;
            case 3:
                return arrayValue({elementValue(in.below(count))});
            case 4:
                return error();
            default:
                return elementValue(in.below(count));
        }
    }

    std::optional<Value> editable() {
        switch (in.below(8)) {
            case 1:
                return booleanValue(true);
            case 2:
                return booleanValue(false);
            case 3:
                return numberValue(1);
            case 4:
                return numberValue(0);
            case 5:
                return numberValue(2);
            case 6:
                return textValue(u"true");
            case 7:
                return error();
            default:
                return std::nullopt;
        }
    }

    std::optional<Value> selectedRange() {
        switch (in.below(5)) {
            case 1: {
                Value v = formValue(Value::Form::range);
                v.range[0] = static_cast<int64_t>(in.below(8));
                v.range[1] = static_cast<int64_t>(in.below(8));
                return v;
            }
            case 2:
                return error();
            case 3:
                return formValue(Value::Form::null);
            case 4:
                return textValue(u"0");
            default:
                return std::nullopt;
        }
    }

    std::optional<Value> markerRange() {
        switch (in.below(4)) {
            case 1:
                return formValue(Value::Form::attributed);
            case 2:
                return error();
            case 3:
                return formValue(Value::Form::null);
            default:
                return std::nullopt;
        }
    }

    fuzz::Input& in;
    size_t count;
};

std::string scenarioJson(const Tree& tree, size_t focused, const std::optional<Value>& window) {
    auto elements = nlohmann::json::object();
    for (size_t i = 0; i < tree.size(); ++i) {
        auto attributes = nlohmann::json::object();
        for (const auto& [name, value] : tree[i].attributes) {
            attributes[name] = toJson(value);
        }
        nlohmann::json element = {{"attributes", attributes}};
        if (const auto settable = tree[i].valueSettable) {
            element["settable"]["AXValue"] = *settable == Settable::error
                                                 ? nlohmann::json{{"error", -25205}}
                                                 : nlohmann::json(*settable == Settable::yes);
        }
        elements[idOf(i)] = element;
    }
    auto application = nlohmann::json::object();
    if (window) {
        application["AXFocusedWindow"] = toJson(*window);
    }
    return nlohmann::json{
        {"systemWide", {{"attributes", {{"AXFocusedUIElement", {{"element", idOf(focused)}}}}}}},
        {"applications", {{"1", {{"attributes", application}}}}},
        {"elements", elements}}
        .dump();
}

// What the tree answers, read the way the programs read it.
class Model {
  public:
    explicit Model(const Tree& t) : tree(t) {}

    const Value* attribute(size_t element, const char* name) const {
        const auto& attributes = tree[element].attributes;
        const auto found = attributes.find(name);
        return found == attributes.end() ? nullptr : &found->second;
    }

    std::u16string text(size_t element, const char* name) const {
        const Value* v = attribute(element, name);
        return v != nullptr && v->form == Value::Form::text ? v->text : u"";
    }

    // fieldscan's children: the elements of a list, nothing else.
    std::vector<size_t> elementChildren(size_t element) const {
        std::vector<size_t> found;
        const Value* v = attribute(element, "AXChildren");
        if (v != nullptr && v->form == Value::Form::array) {
            for (const auto& item : v->items) {
                if (item.form == Value::Form::element) {
                    found.push_back(item.element);
                }
            }
        }
        return found;
    }

    // targetprobe's children: a single element, or every entry of a list (nothing when the
    // entry is not an element).
    std::vector<std::optional<size_t>> everyEntry(size_t element) const {
        std::vector<std::optional<size_t>> found;
        const Value* v = attribute(element, "AXChildren");
        if (v != nullptr && v->form == Value::Form::element) {
            found.push_back(v->element);
        } else if (v != nullptr && v->form == Value::Form::array) {
            for (const auto& item : v->items) {
                found.push_back(item.form == Value::Form::element ? std::optional(item.element)
                                                                  : std::nullopt);
            }
        }
        return found;
    }

    std::optional<size_t> elementAttribute(size_t element, const char* name) const {
        const Value* v = attribute(element, name);
        return v != nullptr && v->form == Value::Form::element ? std::optional(v->element)
                                                               : std::nullopt;
    }

    struct Allowance {
        size_t left = elementsPerWalk;
        size_t entered = 0;

        bool enter(int depth) {
            if (depth > deepestLevel || left == 0) {
                return false;
            }
            --left;
            ++entered;
            return true;
        }
    };

    std::optional<size_t> webArea(size_t element, int depth, Allowance& walk) const {
        if (!walk.enter(depth)) {
            return std::nullopt;
        }
        if (text(element, "AXRole") == u"AXWebArea") {
            return element;
        }
        for (const size_t child : elementChildren(element)) {
            if (const auto found = webArea(child, depth + 1, walk)) {
                return found;
            }
        }
        return std::nullopt;
    }

    // Elements a gathering enters when its bucket never fills.
    void gathering(size_t element, int depth, Allowance& walk) const {
        if (!walk.enter(depth)) {
            return;
        }
        for (const size_t child : elementChildren(element)) {
            gathering(child, depth + 1, walk);
            if (walk.left == 0) {
                return;
            }
        }
    }

    size_t gatheringEntered(size_t from) const {
        Allowance walk;
        gathering(from, 0, walk);
        return walk.entered;
    }

    // Whether the element accepts text, counting the requests the test makes: its role and
    // subrole, then each further question only while every one before it said no.
    bool insertable(size_t element, long& requests) const {
        static constexpr std::u16string_view editable[] = {
            u"AXTextField", u"AXTextArea", u"AXComboBox", u"AXSearchField", u"AXTextView"};
        static constexpr std::u16string_view containers[] = {u"AXApplication", u"AXWindow",
                                                             u"AXGroup",       u"AXScrollArea",
                                                             u"AXSplitGroup",  u"AXToolbar"};
        requests += 2;
        if (roleIn(editable, element)) {
            return true;
        }
        if (roleIn(containers, element)) {
            return false;
        }
        const bool answers[] = {boolean(element, "AXEditable"), boolean(element, "AXDOMEditable"),
                                tree[element].valueSettable == Settable::yes};
        for (const bool yes : answers) {
            ++requests;
            if (yes) {
                return true;
            }
        }
        // A web area's range, or any marker range, counts only with an editable ancestor that
        // is an element. Only a range value places a caret (none here is at NSNotFound).
        ++requests;
        const Value* rangeValue = attribute(element, "AXSelectedTextRange");
        const bool range = rangeValue != nullptr && rangeValue->form == Value::Form::range;
        if (range && text(element, "AXRole") != u"AXWebArea") {
            return true;
        }
        if (!range) {
            ++requests;
            if (!present(element, "AXSelectedTextMarkerRange")) {
                return false;
            }
        }
        ++requests;
        const Value* ancestor = attribute(element, "AXEditableAncestor");
        return ancestor != nullptr && ancestor->form == Value::Form::element;
    }

    // The element found going up, and the requests made: each element tested, and the parent
    // of each that fails.
    std::optional<size_t> upward(size_t start, long& requests) const {
        std::optional<size_t> current = start;
        for (size_t level = 0; current && level < upwardElementsTested; ++level) {
            if (insertable(*current, requests)) {
                return current;
            }
            ++requests;
            current = elementAttribute(*current, "AXParent");
        }
        return std::nullopt;
    }

    // The nearest web area on the way up from the focus, and the requests made: each parent and
    // its role, twenty steps at most, ending where the chain comes back to the focus.
    std::optional<size_t> enclosingWebArea(size_t focused, long& requests) const {
        if (text(focused, "AXRole") == u"AXWebArea") {
            return focused;
        }
        size_t current = focused;
        for (int step = 0; step < ancestorsSearched; ++step) {
            ++requests;
            const auto parent = elementAttribute(current, "AXParent");
            if (!parent || *parent == focused) {
                return std::nullopt;
            }
            ++requests;
            if (text(*parent, "AXRole") == u"AXWebArea") {
                return parent;
            }
            current = *parent;
        }
        return std::nullopt;
    }

    bool excludedFromDescendantSearch(size_t start) const {
        static constexpr std::u16string_view excluded[] = {u"AXBrowser", u"AXCollectionView",
                                                           u"AXList", u"AXOutline", u"AXTable"};
        return roleIn(excluded, start);
    }

    // The element found going down, and the requests made: the start's role and subrole, then
    // for each element taken (an entry that is no element costs nothing) its test below the
    // start and its children above the deepest level.
    std::optional<size_t> descendant(size_t start, long& requests) const {
        requests += 2;
        if (excludedFromDescendantSearch(start)) {
            return std::nullopt;
        }
        std::deque<std::pair<std::optional<size_t>, int>> work{{start, 0}};
        for (size_t taken = 0; !work.empty() && taken < descendantEntriesTaken; ++taken) {
            const auto [entry, depth] = work.front();
            work.pop_front();
            if (!entry) {
                continue;
            }
            if (depth >= 1 && insertable(*entry, requests)) {
                return entry;
            }
            // A list none of whose entries could still be taken is not read.
            if (depth < descendantMaxDepth && taken + 1 + work.size() < descendantEntriesTaken) {
                ++requests;
                for (const auto& child : everyEntry(*entry)) {
                    work.emplace_back(child, depth + 1);
                }
            }
        }
        return std::nullopt;
    }

  private:
    template <size_t size>
    bool roleIn(const std::u16string_view (&table)[size], size_t element) const {
        const std::u16string role = text(element, "AXRole");
        const std::u16string subrole = text(element, "AXSubrole");
        for (const auto entry : table) {
            if (entry == role || entry == subrole) {
                return true;
            }
        }
        return false;
    }

    // A boolean, or a number that is exactly 1.
    bool boolean(size_t element, const char* name) const {
        const Value* v = attribute(element, name);
        return v != nullptr && ((v->form == Value::Form::boolean && v->boolean) ||
                                (v->form == Value::Form::number && v->number == 1));
    }

    // A read that succeeds, with or without a value.
    bool present(size_t element, const char* name) const {
        const Value* v = attribute(element, name);
        return v != nullptr && (v->form != Value::Form::error || v->error == 0);
    }

    const Tree& tree;
};

// The element a search returned, by the identifier each element of the tree carries.
std::optional<size_t> identified(const CFRef<AXUIElementRef>& found, size_t elementCount) {
    if (!found) {
        return std::nullopt;
    }
    const auto id = copyAttributeString(found.get(), "AXIdentifier");
    require(id.has_value());
    for (size_t i = 0; i < elementCount; ++i) {
        if (*id == TreeMaker::utf16Id(i)) {
            return i;
        }
    }
    require(false);
    return std::nullopt;
}

// Runs one call; it must leave no platform object behind once its result is released.
template <typename Call>
void withoutLeak(Call call) {
    const long live = standin::liveObjects();
    call();
    require(standin::liveObjects() == live);
}

long requestsSince(long before) {
    return standin::accessibilityRequests() - before;
}

void checkBucket(const TextBucket& bucket, size_t limit,
                 const std::vector<std::u16string>& offered) {
    require(bucket.size() <= limit + 2);
    for (size_t i = 0; i < bucket.size(); ++i) {
        require(!bucket[i].empty());
        require(fuzz::trimBlanks(bucket[i]) == bucket[i]);
        require(std::find(offered.begin(), offered.end(), bucket[i]) != offered.end());
        for (size_t j = 0; j < i; ++j) {
            require(!canonicallyEqual(bucket[j], bucket[i]));
        }
    }
}

TextBucket checkedGathering(const Model& model, AXUIElementRef start, size_t focused, size_t limit,
                            const std::vector<std::u16string>& offered) {
    TextBucket bucket;
    withoutLeak([&] {
        const long before = standin::accessibilityRequests();
        collectVisibleTexts(start, 0, limit, bucket);
        const long used = requestsSince(before);
        require(used <= static_cast<long>(4 * model.gatheringEntered(focused)));
        checkBucket(bucket, limit, offered);
        if (limit == 0) {
            require(used == 0 && bucket.empty());
            return;
        }
        // The starting element's own value comes first.
        const std::u16string value = model.text(focused, "AXValue");
        if (!fuzz::trimBlanks(value).empty()) {
            require(!bucket.empty() && bucket.front() == fuzz::trimBlanks(value));
        }
    });
    return bucket;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Input in(data, size);
    const size_t count = 1 + in.below(maxElements);
    const size_t focused = in.below(count);
    // The programs' limit, or a small one that the texts of a small tree can reach.
    const size_t limit = in.flag() ? lineLimit : in.below(9);
    const bool isBrowser = in.flag();
    TreeMaker maker(in, count);
    const std::optional<Value> window = maker.window();
    Tree tree;
    for (size_t i = 0; i < count; ++i) {
        tree.push_back(maker.element(i));
    }
    standin::loadScenario(scenarioJson(tree, focused, window));
    const Model model(tree);

    std::vector<std::u16string> offered;
    for (size_t i = 0; i < count; ++i) {
        for (const char* name : {"AXValue", "AXDescription", "AXTitle"}) {
            const std::u16string text = model.text(i, name);
            const std::u16string_view kept = fuzz::trimBlanks(text);
            if (!kept.empty()) {
                offered.emplace_back(kept);
            }
        }
    }

    const CFRef<AXUIElementRef> start = focusedElement();
    require(start && identified(start, count) == focused);
    const CFRef<AXUIElementRef> application(AXUIElementCreateApplication(1));

    withoutLeak([&] {
        Model::Allowance walk;
        const auto expected = model.webArea(focused, 0, walk);
        const long before = standin::accessibilityRequests();
        const auto found = findWebArea(start.get());
        // Each element entered: its role, then its children unless it is the web area.
        require(requestsSince(before) ==
                static_cast<long>(2 * walk.entered) - (expected.has_value() ? 1 : 0));
        require(identified(found, count) == expected);
    });

    const TextBucket bucket = checkedGathering(model, start.get(), focused, limit, offered);

    withoutLeak([&] {
        long expectedRequests = 0;
        const auto expected = model.upward(focused, expectedRequests);
        const long before = standin::accessibilityRequests();
        const auto found = findInsertableElement(start.get());
        const long used = requestsSince(before);
        require(used <= upwardRequestsAtMost);
        require(used == expectedRequests);
        require(identified(found, count) == expected);
    });

    withoutLeak([&] {
        long expectedRequests = 0;
        const auto expected = model.descendant(focused, expectedRequests);
        const long before = standin::accessibilityRequests();
        const auto found = findInsertableDescendant(start.get());
        const long used = requestsSince(before);
        require(used <= downwardRequestsAtMost);
        // Exactly the model's requests: an entry that is no element is never asked anything.
        require(used == expectedRequests);
        require(identified(found, count) == expected);
    });

    withoutLeak([&] {
        const long before = standin::accessibilityRequests();
        require(!findInsertableDescendant(nullptr) && requestsSince(before) == 0);
    });

    // The whole choice: web area of the focus, else of the focused window, else the focus.
    withoutLeak([&] {
        long bound = 1;  // the root's value
        size_t root = focused;
        if (isBrowser) {
            auto webArea = model.enclosingWebArea(focused, bound);
            Model::Allowance fromFocus;
            if (!webArea) {
                webArea = model.webArea(focused, 0, fromFocus);
                bound += 2 * static_cast<long>(fromFocus.entered);
            }
            if (!webArea) {
                bound += 1;  // the focused window
                if (window && window->form == Value::Form::element) {
                    Model::Allowance fromWindow;
                    webArea = model.webArea(window->element, 0, fromWindow);
                    bound += 2 * static_cast<long>(fromWindow.entered);
                }
            }
            root = webArea.value_or(focused);
        }
        const std::u16string rootValue = model.text(root, "AXValue");
        if (isBrowser && rootValue.empty()) {
            bound += 4 * static_cast<long>(model.gatheringEntered(root));
        }
        // What fieldscan reads of the focused element before the page.
        const FocusedElement focus{start.get(), role(start.get()),
                                   copyAttributeString(start.get(), "AXValue")};
        const long before = standin::accessibilityRequests();
        const std::u16string visible = resolveVisibleText(focus, application.get(), isBrowser);
        require(requestsSince(before) <= bound);
        if (!rootValue.empty() || !isBrowser) {
            require(visible == rootValue);
            return;
        }
        // The gathered lines of the root, joined by line feeds; known here when the root is the
        // focused element and its lines were gathered above (gathering again costs too much).
        if (root != focused || limit != lineLimit) {
            return;
        }
        std::u16string joined;
        for (const auto& line : bucket) {
            joined += (joined.empty() ? u"" : u"\n") + line;
        }
        require(visible == joined);
    });
    // Back to a fixed world: a run then frees all it allocated, and libFuzzer's leak check (a
    // full heap scan) is not set off by the scenario kept until the next run.
    standin::loadScenario("{}");
    return 0;
}
