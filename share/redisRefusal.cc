#include "share/redisRefusal.h"

#include <array>

namespace {

// Longest reply text repeated in a message: replies are Redis's, but a line
// of the trace or of standard error stays a line.
constexpr std::size_t kLongestText = 200;

constexpr std::array<std::string_view, 9> kPassing = {"OOM",        "READONLY",   "LOADING",
                                                      "BUSY",       "MASTERDOWN", "TRYAGAIN",
                                                      "NOREPLICAS", "UNBLOCKED",  "CLUSTERDOWN"};

std::string printable(std::string_view text) {
    std::string out(text.substr(0, kLongestText));
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            c = ' ';
        }
    }
    return out;
}

}  // namespace

RedisRefusal classifyRedisError(std::string_view reply, const std::string& streamKey) {
    RedisRefusal refusal;
    refusal.code = printable(reply.substr(0, reply.find(' ')));
    refusal.text = printable(reply);
    for (std::string_view code : kPassing) {
        if (refusal.code == code) {
            return refusal;
        }
    }
    refusal.kind = RefusalKind::NeedsOperator;
    if (refusal.code == "NOAUTH" || refusal.code == "WRONGPASS") {
        refusal.advice =
            "check the user and password in VOKLOGOFFSHARE or in the file named by "
            "VOKLOGOFFSHAREAUTH";
    } else if (refusal.code == "NOPERM") {
        refusal.advice =
            "grant the farm's user the commands and the key that docs/sharing.md lists (ACL "
            "SETUSER)";
    } else if (refusal.code == "WRONGTYPE") {
        refusal.advice = "the key " + streamKey +
                         " holds something else than a stream: delete it, or name another key in "
                         "VOKLOGOFFSHARESTREAM";
    } else if (reply.find("exhausted the last possible ID") != std::string_view::npos) {
        refusal.code = "EXHAUSTED";
        refusal.advice = "the stream " + streamKey +
                         " holds the last possible entry id, so no host can publish: delete it "
                         "(DEL " +
                         streamKey + ") and every host starts it anew";
    } else {
        refusal.advice = "see Redis's reply and its log";
    }
    return refusal;
}
