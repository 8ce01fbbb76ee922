// An in-memory registry for tests of the settings and their users.
#pragma once

#include <map>
#include <string>
#include <tuple>

#include "tools/settings.h"

namespace tolmar::test {

// An in-memory registry that records writes and can refuse one root.
class FakeRegistry : public tolmar::RegistryAccess {
public:
    using Key = std::tuple<tolmar::RegRoot, std::wstring, std::wstring>;
    std::map<Key, std::wstring> values;
    bool machineWritable = true;

    tolmar::RegistryWriteResult WriteString(tolmar::RegRoot root, std::wstring_view path, std::wstring_view name,
                                            std::wstring_view value) override {
        if (root == tolmar::RegRoot::LocalMachine && !machineWritable) return {false, L"Access denied.\r\n"};
        values[{root, std::wstring(path), std::wstring(name)}] = std::wstring(value);
        return {true, {}};
    }
    std::wstring ReadString(tolmar::RegRoot root, std::wstring_view path, std::wstring_view name) override {
        auto it = values.find({root, std::wstring(path), std::wstring(name)});
        return it == values.end() || it->second.size() > tolmar::kRegistryTextLimit ? std::wstring() : it->second;
    }
    bool IsTooLong(tolmar::RegRoot root, std::wstring_view path, std::wstring_view name) override {
        auto it = values.find({root, std::wstring(path), std::wstring(name)});
        return it != values.end() && it->second.size() > tolmar::kRegistryTextLimit;
    }
};

}  // namespace tolmar::test
