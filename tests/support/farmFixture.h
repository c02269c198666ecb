// Two hosts of a farm and the Redis they share, the farm secret beside
// Redis's data: what most farm tests start from.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/support/farmCookies.h"
#include "tests/support/farmHost.h"
#include "tests/support/redisServer.h"

namespace lctest {

class TwoHostFarm : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(redis_.start());
        secretPath_ = writeSecretFile(redis_.directory(), kFarmSecret, 0600);
    }

    // Sharing through the Redis's Unix socket on the stream of the tests.
    EnvChanges sharing() const { return sharingWith(redis_.endpoint(), secretPath_); }
    // sharing(), and metrics written to `metricsPath`.
    EnvChanges sharingWithMetrics(const std::string& metricsPath) const {
        EnvChanges env = sharing();
        env.push_back({"VOKLOGOFFMETRICS", metricsPath});
        return env;
    }

    HostTestLock lock_;  // first: held before anything starts
    RedisServer redis_;
    std::string secretPath_;
    FarmHost a_{"host A"};
    FarmHost b_{"host B"};
};

}  // namespace lctest
