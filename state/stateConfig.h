// The warm restart's configuration, read from the environment at start:
//   VOKLOGOFFSTATE        absolute path of the state file
//   VOKLOGOFFSTATEMAXAGE  seconds a state file stays good after the stop,
//                         default 300
// With VOKLOGOFFSTATE unset (or empty) nothing is saved or loaded.
#pragma once

#include <cstdint>
#include <string>

inline constexpr std::int32_t kStateDefaultMaxAgeSeconds = 300;

struct StateConfig {
    std::string path;
    std::int32_t maxAgeSeconds = kStateDefaultMaxAgeSeconds;
};

enum class StateConfigResult { Off, On, Refused };

// Reads the two variables. Refused carries one line in `error`.
StateConfigResult readStateConfig(StateConfig& out, std::string& error);
