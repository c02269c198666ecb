// Who may record logoffs: VOKLOGOFFADDUSERS, a comma-separated list of user
// names, numeric user ids and, after "@", group names or numeric group ids.
// Names are resolved once, at start; the check on an add compares numbers.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct AddAllowList {
    // Unset: every local user may add, as when there was no list.
    bool everyone = true;
    std::vector<uid_t> users;
    std::vector<gid_t> groups;
};

// Parses `value`, the variable's value or nullptr when it is unset. On a name
// that does not resolve, an empty entry, a number out of range or a list that
// names no one, returns false with the reason in `error`.
bool parseAddAllowList(const char* value, AddAllowList& list, std::string& error);

// Whether a peer with these credentials may add. Root always may. The
// supplementary groups are asked for only when the user and the group alone
// are not enough (`supplementaryGroups` fills its argument; false when they
// cannot be had).
template <typename SupplementaryGroups>
bool addAllowList_permits(const AddAllowList& list, uid_t uid, gid_t gid,
                          SupplementaryGroups supplementaryGroups);

bool addAllowList_listsUser(const AddAllowList& list, uid_t uid);
bool addAllowList_listsGroup(const AddAllowList& list, gid_t gid);

template <typename SupplementaryGroups>
bool addAllowList_permits(const AddAllowList& list, uid_t uid, gid_t gid,
                          SupplementaryGroups supplementaryGroups) {
    if (list.everyone || uid == 0 || addAllowList_listsUser(list, uid) ||
        addAllowList_listsGroup(list, gid)) {
        return true;
    }
    std::vector<gid_t> groups;
    if (list.groups.empty() || !supplementaryGroups(groups)) {
        return false;
    }
    for (gid_t group : groups) {
        if (addAllowList_listsGroup(list, group)) {
            return true;
        }
    }
    return false;
}
