#include "functional/apps/kmsgwatch/classify.h"

#include <gtest/gtest.h>

#include <string>

using namespace kmsgwatch;

namespace {

std::uint32_t bit(unsigned rule) { return 1u << rule; }

unsigned ruleOf(const char *incidentOrMetrics)
{
    for (unsigned i = 0; i < RuleCount; ++i) {
        if ((Rules[i].incident && std::string(Rules[i].incident) == incidentOrMetrics) ||
            (Rules[i].metrics && std::string(Rules[i].metrics) == incidentOrMetrics)) {
            return i;
        }
    }
    ADD_FAILURE() << incidentOrMetrics;
    return 31;
}

TEST(Classification, EveryRuleMatchesItsText)
{
    struct Case {
        const char *text;
        const char *rule;
    } cases[] = {
        {"\"echo 0 > /proc/sys/kernel/hung_task_timeout_secs\" disables this message.\n", "hung-task"},
        {"Out of memory: Killed process 123 (x)\n", "oom"},
        {"Internal error: Oops: 17 [#1] PREEMPT SMP ARM\n", "oops"},
        {"Unable to handle kernel NULL pointer dereference at virtual address 00000000\n", "null-pointer"},
        {"end_request: critical target error, dev sda, sector 0\n", "scsi-error"},
        {"audit: type=1400 avc: denied { read } for pid=1\n", "avc"},
        {"audit: type=1400 audit(1.2:3): avc:  denied  { read } for pid=1\n", "avc"}, // the kernel's own form
        {"arm-smmu 12000000.iommu: Unhandled context fault: fsr=0x402\n", "smmu"},
        {"tegra-mc: csr_nvdisplayr: EMEM address decode error (x)\n", "/run/metrics/csr_nvdisplayr"},
        {"sched: RT throttling activated\n", "/run/metrics/rt_throttle"},
        {"i2c 1-0050: Inter byte i2c xfer time LIMIT reached\n", "/run/metrics/i2c_xfer_limit_reached"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(matchingRules(c.text), bit(ruleOf(c.rule))) << c.text;
    }
}

TEST(Classification, BeginsWithRulesNeedTheStartContainsRulesDoNot)
{
    EXPECT_EQ(matchingRules("x Out of memory\n"), 0u);
    EXPECT_EQ(matchingRules(" Internal error: Oops:\n"), 0u);
    EXPECT_EQ(matchingRules("Internal error: Oops\n"), 0u); // the colon is part of the text
    EXPECT_EQ(matchingRules("foo sched: RT throttling activated\n"), 0u);
    EXPECT_EQ(matchingRules("avc: denie\n"), 0u);
    EXPECT_EQ(matchingRules("avc:   denied\n"), 0u);
    EXPECT_EQ(matchingRules("avc:denied\n"), 0u);
    // smmu needs both its prefix and its contained text.
    EXPECT_EQ(matchingRules("arm-smmu: all fine\n"), 0u);
    EXPECT_EQ(matchingRules("smmu: Unhandled context fault\n"), 0u);
    EXPECT_EQ(matchingRules(""), 0u);
}

TEST(Classification, ARecordMatchingSeveralRulesTriggersEach)
{
    EXPECT_EQ(matchingRules("arm-smmu x: Unhandled context fault avc: denied\n"),
              bit(ruleOf("smmu")) | bit(ruleOf("avc")));
    EXPECT_EQ(matchingRules("Out of memory avc: denied Inter byte i2c xfer time LIMIT reached\n"),
              bit(ruleOf("oom")) | bit(ruleOf("avc")) | bit(ruleOf("/run/metrics/i2c_xfer_limit_reached")));
}

TEST(Classification, LevelsFourFiveAndSevenAreIgnored)
{
    for (int level = 0; level <= 7; ++level) {
        EXPECT_EQ(isIgnoredLevel(level), level == 4 || level == 5 || level == 7) << level;
    }
}

TEST(Classification, IncidentsTheKernelPrintsAtAnIgnoredLevelStillAct)
{
    const Rule &rt = Rules[ruleOf("/run/metrics/rt_throttle")];
    const Rule &avc = Rules[ruleOf("avc")];
    const Rule &oops = Rules[ruleOf("oops")];
    EXPECT_TRUE(actsAtLevel(rt, 4));
    EXPECT_TRUE(actsAtLevel(avc, 5));
    EXPECT_TRUE(actsAtLevel(avc, 6));
    EXPECT_FALSE(actsAtLevel(rt, 5));
    EXPECT_FALSE(actsAtLevel(avc, 4));
    EXPECT_FALSE(actsAtLevel(avc, 7));
    EXPECT_FALSE(actsAtLevel(oops, 4));
}

TEST(Classification, TestTextIsAPrefixMatch)
{
    EXPECT_TRUE(matchesTestText("marker-123 rest\n", "marker-123"));
    EXPECT_FALSE(matchesTestText("x marker-123\n", "marker-123"));
    EXPECT_FALSE(matchesTestText("marker-123\n", nullptr));
    EXPECT_TRUE(matchesTestText("anything\n", ""));
}

} // namespace
