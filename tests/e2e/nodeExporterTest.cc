// The metrics file as operators use it: written by the real service into the
// textfile directory of Debian's node exporter, and scraped from there.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "tests/support/nodeExporter.h"
#include "tests/support/serviceProcess.h"
#include "tests/support/waitUntil.h"

namespace lctest {
namespace {

bool hasLine(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0 || text.find("\n" + prefix) != std::string::npos;
}

TEST(NodeExporter, ScrapesTheServicesFamiliesWithoutAnError) {
    ServiceProcess service;
    NodeExporter exporter(service.installPath());
    const std::string file = exporter.textfileDirectory() + "/voklogoffcookie.prom";
    ASSERT_TRUE(service.start({{"VOKLOGOFFMETRICS", file}}));
    struct stat info {};
    ASSERT_TRUE(waitUntil([&] { return stat(file.c_str(), &info) == 0; }));
    ASSERT_TRUE(exporter.start());

    std::string scraped = exporter.scrape();
    ASSERT_FALSE(scraped.empty()) << exporter.log();
    for (const char* family :
         {"voklogoffcookie_requests_total{outcome=\"added\"} 0",
          "voklogoffcookie_start_time_seconds ", "voklogoffcookie_build_info{version=",
          "voklogoffcookie_share_seconds_since_last_read NaN",
          // The collector read our file without complaint.
          "node_textfile_scrape_error 0"}) {
        EXPECT_TRUE(hasLine(scraped, family)) << family << " missing from:\n" << scraped;
    }
    // The exporter's own start time is its own, not ours.
    EXPECT_TRUE(hasLine(scraped, "process_start_time_seconds "));
    std::string log = exporter.log();
    EXPECT_EQ(log.find("level=error"), std::string::npos) << log;
    EXPECT_EQ(log.find("error gathering metrics"), std::string::npos) << log;
}

}  // namespace
}  // namespace lctest
