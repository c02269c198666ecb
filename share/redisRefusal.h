// What an error reply of Redis means for farm sharing: a refusal that passes
// by itself (full memory, a replica during a failover, a server loading its
// data) is retried with the backoff; one an operator must mend (a wrong
// password, a user without the right, a key of another type) is said, with
// what to do, and retried slowly. Either way nothing is dropped for it.
#pragma once

#include <string>
#include <string_view>

enum class RefusalKind { Passing, NeedsOperator };

struct RedisRefusal {
    RefusalKind kind = RefusalKind::Passing;
    std::string code;    // the reply's first word, "OOM", "NOPERM"...
    std::string text;    // the whole reply, cut to a line's length
    std::string advice;  // for the operator; empty for passing refusals
};

RedisRefusal classifyRedisError(std::string_view reply, const std::string& streamKey);
