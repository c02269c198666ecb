#include "service/addAllowList.h"

#include <grp.h>
#include <pwd.h>

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view trimmed(std::string_view text) {
    std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// A decimal id. (id_t)-1 means "no id" to the system calls, so it is refused.
bool parseId(std::string_view text, std::uint32_t& id) {
    if (text.empty() || text.size() > 10 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    std::uint64_t value = 0;
    for (char c : text) {
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value >= UINT32_MAX) {
        return false;
    }
    id = static_cast<std::uint32_t>(value);
    return true;
}

bool isNumeric(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

bool addEntry(std::string_view entry, AddAllowList& list, std::string& error) {
    const bool isGroup = !entry.empty() && entry.front() == '@';
    std::string name(isGroup ? entry.substr(1) : entry);
    std::uint32_t id = 0;
    if (isNumeric(name)) {
        if (!parseId(name, id)) {
            error = "VOKLOGOFFADDUSERS: id out of range: " + std::string(entry);
            return false;
        }
    } else if (isGroup) {
        const struct group* found = name.empty() ? nullptr : getgrnam(name.c_str());
        if (found == nullptr) {
            error = "VOKLOGOFFADDUSERS: no group named \"" + name + "\"";
            return false;
        }
        id = found->gr_gid;
    } else {
        const passwd* found = getpwnam(name.c_str());
        if (found == nullptr) {
            error = "VOKLOGOFFADDUSERS: no user named \"" + name + "\"";
            return false;
        }
        id = found->pw_uid;
    }
    if (isGroup) {
        list.groups.push_back(static_cast<gid_t>(id));
    } else {
        list.users.push_back(static_cast<uid_t>(id));
    }
    return true;
}

}  // namespace

bool parseAddAllowList(const char* value, AddAllowList& list, std::string& error) {
    list = AddAllowList{};
    if (value == nullptr) {
        return true;
    }
    list.everyone = false;
    std::string_view rest(value);
    if (trimmed(rest).empty()) {
        // Set, yet naming no one: a slip more likely than a wish for root
        // alone, who can be named for that.
        error = "VOKLOGOFFADDUSERS is set but names no one";
        return false;
    }
    for (;;) {
        std::size_t comma = rest.find(',');
        std::string_view entry = trimmed(rest.substr(0, comma));
        if (entry.empty()) {
            error = "VOKLOGOFFADDUSERS: empty entry in \"" + std::string(value) + "\"";
            return false;
        }
        if (!addEntry(entry, list, error)) {
            return false;
        }
        if (comma == std::string_view::npos) {
            return true;
        }
        rest.remove_prefix(comma + 1);
    }
}

bool addAllowList_listsUser(const AddAllowList& list, uid_t uid) {
    return std::find(list.users.begin(), list.users.end(), uid) != list.users.end();
}

bool addAllowList_listsGroup(const AddAllowList& list, gid_t gid) {
    return std::find(list.groups.begin(), list.groups.end(), gid) != list.groups.end();
}
