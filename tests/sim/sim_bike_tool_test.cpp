// "ruttmoor-sim bike NAME" as other checks run it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/sim_tool.h"
#include "tests/support/temp_home.h"

namespace
{


using SimBikeTool = SimToolTest;

double value_after(const std::string &text, const std::string &key)
{
    size_t at = text.find(key);
    return at == std::string::npos ? -1 : atof(text.c_str() + at + key.size());
}

TEST_F(SimBikeTool, PrintsTheEntryItsBodiesAndTheTotalMass)
{
    ProcessResult r = run({"bike", "crf450(2013)"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string head = "name=crf450(2013)\nclass=450f\nsprockets=13/48\n"
                             "gears=1.8,1.471,1.235,1.05,0.9091\n"
                             "torque_peak=31@7000\nrev_limit=12000\n"
                             "body=frame mass=8.380833 inertia=";
    EXPECT_EQ(r.out.substr(0, head.size()), head) << r.out;
    for (const char *body :
         {"front_wheel", "rear_wheel", "fork_upper", "fork_lower", "swingarm", "rider"})
        EXPECT_NE(r.out.find(std::string("body=") + body + " mass="), std::string::npos) << body;
    EXPECT_NE(r.out.find("body=rider mass=1.822917 inertia=0.729167,0.729167,0.729167\n"),
              std::string::npos)
        << r.out;
    EXPECT_NEAR(value_after(r.out, "total_mass="), 13.95875, 1e-6);
}

TEST_F(SimBikeTool, UnknownNamesFallBackWithTheCataloguesMessage)
{
    ProcessResult r = run({"bike", "my125"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 21), "name=cr125\nclass=125\n");
    EXPECT_NE(r.err.find("bike info for 'my125' not found using 'cr125' instead"),
              std::string::npos)
        << r.err;
}

TEST_F(SimBikeTool, BadUsageAndMissingData)
{
    EXPECT_EQ(run({"bike"}).status, 2);
    EXPECT_EQ(run({"bike", "a", "b"}).status, 2);
    std::filesystem::remove(root + "/data/zzzz.saf");
    ProcessResult r = run({"bike", "crf450(2013)"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Can't find game data"), std::string::npos);
}

} // namespace
