#include "zubrun.h"
#include "zubtest.h"

#include <gtest/gtest.h>

TEST(ZubDocRun, Smoke)
{
    CZubTestRun run;
    ZubApp().m_params.ProcessAuto = true;
    SZubSynthOptions o;
    o.iWidth = 160;
    o.iHeight = 120;
    o.iFrames = 30;
    const std::string path = CZubTestRun::Synth("smoke.ser", o);
    ASSERT_TRUE(run.Open(path));
    for (const auto& l : run.m_lines)
        printf("%s\n", l.c_str());
}
