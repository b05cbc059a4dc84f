#pragma once

#include <string>
#include <string_view>

// Builds one JSON object as text, members in the order they are added.
// Texts are UTF-8 and are escaped as JSON requires (quote, backslash and
// every control character), so the result is always one line. Any thread;
// one object per thread.
class CJsonObject {
public:
    // Adds "key": "value".
    CJsonObject& Add(std::string_view key, std::string_view value);
    // Adds "key": number.
    CJsonObject& AddNumber(std::string_view key, long long value);
    // Adds "key": true/false.
    CJsonObject& AddBool(std::string_view key, bool value);
    // Adds "key": json, where json is already valid JSON (object, array).
    CJsonObject& AddRaw(std::string_view key, std::string_view json);

    // The finished object: "{...}".
    std::string Str() const { return "{" + members_ + "}"; }

    // `text` as a quoted, escaped JSON string.
    static std::string Quote(std::string_view text);
    // A JSON array of the given already-valid JSON values.
    template <class Range>
    static std::string Array(const Range& values)
    {
        std::string out = "[";
        for (const auto& v : values) {
            if (out.size() > 1)
                out += ',';
            out += v;
        }
        return out + "]";
    }

private:
    void Key(std::string_view key);
    std::string members_;
};
