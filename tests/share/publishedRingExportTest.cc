// The stop saves what the publisher's ring holds, from another thread.
#include <gtest/gtest.h>

#include <thread>

#include "share/publishedRing.h"

namespace {

FarmLogoff logoffNumbered(std::uint8_t n) {
    FarmLogoff logoff;
    logoff.identity.fill(n);
    return logoff;
}

TEST(PublishedRingExport, TheFirstRingStillThereIsExportedFromAnotherThread) {
    EXPECT_TRUE(PublishedRing::exportCurrent().empty());
    auto now = PublishedRing::Clock::now();
    {
        PublishedRing publishers;
        PublishedRing another;
        std::vector<FarmLogoff> published = {logoffNumbered(1), logoffNumbered(2)};
        publishers.add(published, now);
        another.add(std::vector<FarmLogoff>{logoffNumbered(9)}, now);
        std::vector<FarmLogoff> exported;
        std::thread stop([&exported] { exported = PublishedRing::exportCurrent(); });
        stop.join();
        ASSERT_EQ(exported.size(), 2u);
        EXPECT_EQ(exported[0].identity, published[0].identity);
        EXPECT_EQ(exported[1].identity, published[1].identity);
    }
    EXPECT_TRUE(PublishedRing::exportCurrent().empty()) << "gone with its ring";
}

}  // namespace
