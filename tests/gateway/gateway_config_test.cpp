// The gateway's configuration, read from the command line and from a file: each refusal
// names what is wrong and where, the file and line or the option.
#include "failure.h"
#include "gateway_config.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace {

constexpr const char *kFile = "plant.conf";

struct ConfigCase {
    std::string text; // plant.conf
    std::vector<std::string> arguments;
    std::string message; // LINK: a link to /dev/null with a name the driver takes as it is
};

void PrintTo(const ConfigCase &row, std::ostream *out) {
    *out << row.message;
}

class GatewayConfigRefusal : public ::testing::TestWithParam<ConfigCase> {
  public:
    static void SetUpTestSuite() {
        char name[] = "/tmp/XXXXXX";
        close(mkstemp(name));
        std::remove(name);
        ASSERT_EQ(symlink("/dev/null", name), 0);
        link = name;
    }
    static void TearDownTestSuite() { std::remove(link.c_str()); }

  protected:
    static std::string WithLink(std::string text) {
        if (const auto at = text.find("LINK"); at != std::string::npos) {
            text.replace(at, 4, link);
        }
        return text;
    }
    static std::string link;
};

std::string GatewayConfigRefusal::link;

// The configuration of arguments, with text in plant.conf in the working directory while
// they are read.
GatewayConfig Parse(const std::string &text, const std::vector<std::string> &arguments) {
    std::ofstream(kFile) << text;
    try {
        GatewayConfig config = ParseGatewayArguments(arguments);
        std::remove(kFile);
        return config;
    } catch (...) {
        std::remove(kFile);
        throw;
    }
}

TEST_P(GatewayConfigRefusal, IsRefusedWithWhereItIsWrong) {
    std::vector<std::string> arguments;
    for (const auto &argument : GetParam().arguments) {
        arguments.push_back(WithLink(argument));
    }
    try {
        Parse(GetParam().text, arguments);
        ADD_FAILURE() << "accepted";
    } catch (const UsageError &error) {
        EXPECT_EQ(error.what(), WithLink(GetParam().message));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, GatewayConfigRefusal,
    ::testing::Values(
        ConfigCase{"broker = localhost\n[instrumnet boiler]\nport = pts/1\nitems = L01S1\n",
                   {"--config", kFile},
                   "plant.conf:2: unknown section [instrumnet boiler]; the sections are "
                   "[gateway] and [instrument NAME]"},
        ConfigCase{"[instrument boiler]\nport = pts/1\nitems = L01S1\n\n"
                   "[instrument boiler]\nport = pts/2\nitems = L01S1\n",
                   {"--config", kFile},
                   "plant.conf:5: a second instrument named boiler (plant.conf:1); give each "
                   "its own name"},
        ConfigCase{"[instrument boiler]\nport = pts/1\nitems = L01S1\n"
                   "[instrument kiln]\nport = /dev/pts/1\nitems = L01S1\n",
                   {"--config", kFile},
                   "plant.conf:5: port: '/dev/pts/1' is the port of instrument boiler already "
                   "(plant.conf:2); each instrument needs its own port"},
        ConfigCase{
            "",
            {"--port", "/dev/null", "--items", "L01S1", "--port", "LINK", "--items", "L01S1"},
            "--port: 'LINK' leads to /dev/null, the port of instrument dev-null "
            "already; each instrument needs its own port"},
        ConfigCase{"",
                   {"--port", "pts/1", "--name", "boiler", "--items", "L01S1", "--port", "pts/2",
                    "--name", "boiler", "--items", "L01S1"},
                   "--name: a second instrument named boiler; give each its own --name"},
        ConfigCase{"# plant\n\n[instrument boiler] ; the first\nport = pts/1\nitems = L01S1,\n"
                   "  L01V1\nbaud = fast\n",
                   {"--config", kFile},
                   "plant.conf:7: baud: 'fast' is not a whole number (allowed: 50 to 65535)"},
        ConfigCase{"[instrument boiler]\nport pts/1\n",
                   {"--config", kFile},
                   "plant.conf:2: not a [section] or key = value line"},
        ConfigCase{"[instrument boiler]\nport = pts/1\nformat = json\n",
                   {"--config", kFile},
                   "plant.conf:3: unknown key 'format'"},
        ConfigCase{"[instrument boiler]\nport = pts/1\nitems = L01S1\non-change = L01V1\n",
                   {"--config", kFile},
                   "plant.conf:4: on-change: L01V1 is not among the items of boiler"},
        ConfigCase{"[instrument boiler]\nitems = L01S1\n",
                   {"--config", kFile},
                   "plant.conf:1: instrument boiler has no port"},
        ConfigCase{"",
                   {"--config", "missing.conf"},
                   "--config: cannot read 'missing.conf': No such file or directory"},
        ConfigCase{"",
                   {"--password-file", "/", "--port", "pts/1", "--items", "L01S1"},
                   "--password-file: cannot read '/': Is a directory"},
        ConfigCase{"ca-file = /dev/null\ncert-file = /dev/null\n"
                   "[instrument boiler]\nport = pts/1\nitems = L01S1\n",
                   {"--config", kFile},
                   "plant.conf:2: cert-file: the client certificate needs its key: give "
                   "key-file too"},
        ConfigCase{"",
                   {"--key-file", "/dev/null", "--port", "pts/1", "--items", "L01S1"},
                   "--key-file: the client key needs its certificate: give --cert-file too"},
        ConfigCase{"",
                   {"--cert-file", "/dev/null", "--key-file", "/dev/null", "--port", "pts/1",
                    "--items", "L01S1"},
                   "--cert-file: a client certificate is for TLS: give --ca-file too, the CA "
                   "that signed the broker's certificate"},
        ConfigCase{"[instrument boiler]\nport = pts/1\nitems = L01S1, L01V1@often\n",
                   {"--config", kFile},
                   "plant.conf:3: items: 'often' is not a number of seconds (0 to 86400)"},
        ConfigCase{"",
                   {"--metrics-listen", "9100", "--port", "pts/1", "--items", "L01S1"},
                   "--metrics-listen: '9100' is not ADDR:PORT (127.0.0.1:9100, [::1]:9100, "
                   "0.0.0.0:9100)"},
        ConfigCase{"",
                   {"--discovery", "home/+", "--port", "pts/1", "--items", "L01S1"},
                   "--discovery: 'home/+' must be topic levels without + # or a leading or "
                   "trailing /"}));

TEST(GatewayConfigFile, TakesCommentsListsOverSeveralLinesAndTheGatewaySection) {
    const GatewayConfig config =
        Parse("\xEF\xBB\xBF# plant\ninterval = 2 ; every instrument's\n"
              "[instrument boiler]\nport = pts/1\nitems = L01S1,\n        L01V1   # continued\n"
              "[gateway]\nbroker = mqtt.plant:8883\n[instrument kiln]\nport = pts/2\n"
              "items = L01S1\n",
              {"--config", kFile});
    EXPECT_EQ(config.broker.host, "mqtt.plant");
    EXPECT_EQ(config.broker.port, 8883);
    ASSERT_EQ(config.instruments.size(), 2U);
    EXPECT_EQ(config.instruments[0].name, "boiler");
    EXPECT_EQ(config.instruments[0].items.size(), 2U);
    EXPECT_EQ(config.instruments[0].items[1].argument, "L01V1");
    EXPECT_EQ(config.instruments[1].name, "kiln");
    EXPECT_EQ(config.instruments[1].intervalSeconds, 2);
}

// The example that the tools package installs is a configuration the gateway takes.
TEST(GatewayConfigFile, TakesTheInstalledExample) {
    const GatewayConfig config = ParseGatewayArguments({"--config", EM_EXAMPLE_CONFIG});
    ASSERT_EQ(config.instruments.size(), 2U);
    EXPECT_EQ(config.instruments[0].name, "boiler");
    EXPECT_EQ(config.instruments[0].items.size(), 4U);
    EXPECT_EQ(config.instruments[1].intervalSeconds, 2);
}

// Items with intervals of their own, and the interval of the others when none is given: whole
// seconds that fit a read of each and of the alerts.
TEST(GatewayConfigFile, TakesItemIntervalsAndFitsTheDefaultInterval) {
    const GatewayConfig config = Parse("discovery =\nmetrics-listen = [::1]:9100\n"
                                       "[instrument boiler]\nport = pts/1\n"
                                       "items = L01S1, L01V1@5, L01M0@0.5, L02S1, L02V1, L02M0\n"
                                       "[instrument kiln]\nport = pts/2\nitems = L01S1\n"
                                       "[instrument dryer]\nport = pts/3\ninterval = 0.5\n"
                                       "items = L01S1, L01V1, L01M0, L01X0\n",
                                       {"--config", kFile, "--discovery", "ha"});
    ASSERT_EQ(config.instruments.size(), 3U);
    const auto &items = config.instruments[0].items;
    EXPECT_EQ(items[1].argument, "L01V1");
    EXPECT_EQ(items[1].intervalSeconds, 5);
    EXPECT_EQ(items[2].intervalSeconds, 0.5);
    EXPECT_FALSE(items[0].intervalSeconds);
    EXPECT_EQ(config.instruments[0].intervalSeconds, 2); // 4 reads and the alerts: 1.75 s
    EXPECT_EQ(config.instruments[1].intervalSeconds, 1);
    EXPECT_EQ(config.instruments[2].intervalSeconds, 0.5);
    EXPECT_EQ(config.discoveryPrefix, "ha");
    EXPECT_EQ(config.metricsListen, "[::1]:9100");
    EXPECT_EQ(Parse("", {"--discovery", "--port", "pts/1", "--items", "L01S1"}).discoveryPrefix,
              "homeassistant");
}

} // namespace
