// The accessibility attributes fieldscan asks for, each named once.
#pragma once

struct Attribute {
    static constexpr const char* value = "AXValue";
    static constexpr const char* title = "AXTitle";
    static constexpr const char* description = "AXDescription";
    static constexpr const char* children = "AXChildren";
    static constexpr const char* focusedWindow = "AXFocusedWindow";
    static constexpr const char* selectedText = "AXSelectedText";
    static constexpr const char* selectedTextRange = "AXSelectedTextRange";
    static constexpr const char* editable = "AXEditable";
    static constexpr const char* domEditable = "AXDOMEditable";
    static constexpr const char* editableAncestor = "AXEditableAncestor";
};
