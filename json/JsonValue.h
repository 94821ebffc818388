// One node of a parsed JSON text. A node owns everything below it, so
// releasing the root of a tree releases the whole tree.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

class JsonValue {
public:
    // The kinds in the order of the value tree's enumeration (0 to 5); each is
    // also the index of its alternative in the storage below.
    enum Kind : size_t { Null, String, Bool, Number, Array, Object };

    // Array elements in text order.
    using ArrayItems = std::vector<std::unique_ptr<JsonValue>>;
    // Object members ordered by key (code-unit order), one entry per key.
    using ObjectMembers = std::map<std::wstring, std::unique_ptr<JsonValue>, std::less<>>;
    using Storage = std::variant<std::monostate, std::wstring, bool, double, ArrayItems, ObjectMembers>;

    JsonValue() = default;  // null
    explicit JsonValue(std::wstring sText) : m_value(std::in_place_index<String>, std::move(sText)) {}
    explicit JsonValue(bool bValue) : m_value(std::in_place_index<Bool>, bValue) {}
    explicit JsonValue(double dValue) : m_value(std::in_place_index<Number>, dValue) {}
    explicit JsonValue(ArrayItems items) : m_value(std::in_place_index<Array>, std::move(items)) {}
    explicit JsonValue(ObjectMembers members) : m_value(std::in_place_index<Object>, std::move(members)) {}
    // Anything else (an int, a character pointer that would turn into a bool) is refused.
    template <class T>
    JsonValue(T) = delete;

    // Nodes are owned in exactly one place; the parser's member index points into the tree.
    JsonValue(const JsonValue&) = delete;
    JsonValue& operator=(const JsonValue&) = delete;
    JsonValue(JsonValue&&) = default;
    JsonValue& operator=(JsonValue&&) = default;

    Kind GetKind() const { return static_cast<Kind>(m_value.index()); }

    // The value when the node is of kind K, else null. For example
    // GetIf<JsonValue::Number>() gives a const double*.
    template <Kind K>
    const auto* GetIf() const {
        return std::get_if<static_cast<size_t>(K)>(&m_value);
    }

private:
    Storage m_value;
};
