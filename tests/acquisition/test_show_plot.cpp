// The chart redraw from memory: channel choice, view toggle and the fixed axes.

#include "capture_fixture.h"

#include <QAbstractButton>
#include <QButtonGroup>

namespace {

using namespace capfix;

class Plot : public CaptureTest {
protected:
    void SetUp() override
    {
        CaptureTest::SetUp();
        startReady(2);
        // Distinct values per array and element, so every point can be traced to its source.
        for (int k = 1; k <= 4096; ++k) {
            form->SweepVolts1[k] = 0.001 * k;
            form->SweepVolts2[k] = -0.001 * k;
            form->SweepVolts3[k] = 1.0 + 0.001 * k;
            form->DelayProfile1[k] = k;
            form->DelayProfile2[k] = -k;
            form->DelayProfile3[k] = 100.0 + k;
        }
    }
    std::array<int, 3> counts() const
    {
        return {form->Chart1->pointCount(form->Series1), form->Chart1->pointCount(form->Series2),
                form->Chart1->pointCount(form->Series3)};
    }
};

TEST_F(Plot, AllChannelsTimeSeries)
{
    form->setRadioItemIndex(3);
    form->PlotChannels();
    EXPECT_EQ(counts(), (std::array<int, 3>{1000, 1000, 1000}));
    EXPECT_EQ(form->Chart1->pointY(form->Series1, 0), 0.001);
    EXPECT_EQ(form->Chart1->pointY(form->Series2, 999), form->SweepVolts2[1000]);
    EXPECT_EQ(form->Chart1->pointY(form->Series3, 499), form->SweepVolts3[500]);
    EXPECT_FALSE(form->Chart1->leftAxisAutomatic());
    EXPECT_EQ(form->Chart1->leftAxisMinimum(), -5.0);
    EXPECT_EQ(form->Chart1->leftAxisMaximum(), 5.0);
    EXPECT_EQ(form->Chart1->seriesColour(form->Series2), QColor(0, 128, 0));
}

TEST_F(Plot, SingleChannelLeavesTheOthersEmpty)
{
    for (int choice = 0; choice < 3; ++choice) {
        form->setRadioItemIndex(choice);
        form->RadioGroup1Click();
        std::array<int, 3> expected{0, 0, 0};
        expected[static_cast<size_t>(choice)] = 1000;
        EXPECT_EQ(counts(), expected) << "item " << choice;
    }
    EXPECT_EQ(form->Chart1->pointY(form->Series3, 0), form->SweepVolts3[1]);
}

TEST_F(Plot, NoItemSelectedDrawsNothing)
{
    form->PlotChannels();
    form->setRadioItemIndex(-1);
    ASSERT_EQ(form->radioItemIndex(), -1);
    form->PlotChannels();
    EXPECT_EQ(counts(), (std::array<int, 3>{0, 0, 0}));
}

TEST_F(Plot, ViewToggleSwitchesSourceAxesAndCaption)
{
    form->setRadioItemIndex(3);
    ASSERT_EQ(form->Button2->text(), "Delay Profile");
    form->Button2Click();
    EXPECT_FALSE(form->TimeSeriesMode);
    EXPECT_EQ(form->Button2->text(), "Time Series");
    EXPECT_EQ(form->Chart1->leftAxisMinimum(), -20.0);
    EXPECT_EQ(form->Chart1->leftAxisMaximum(), 60.0);
    EXPECT_EQ(counts(), (std::array<int, 3>{1000, 1000, 1000}));
    EXPECT_EQ(form->Chart1->pointY(form->Series1, 0), 1.0);    // bin 1 at position 0
    EXPECT_EQ(form->Chart1->pointY(form->Series3, 999), 1100.0);  // drawn beyond the axis as it is

    const int replots = form->Chart1->replotCount();
    form->Button2Click();
    EXPECT_TRUE(form->TimeSeriesMode);
    EXPECT_EQ(form->Button2->text(), "Delay Profile");
    EXPECT_EQ(form->Chart1->leftAxisMinimum(), -5.0);
    EXPECT_EQ(form->Chart1->pointY(form->Series2, 0), -0.001);
    EXPECT_GT(form->Chart1->replotCount(), replots);  // drawn at once, without a capture
    EXPECT_EQ(boardsim::scanCount(), 0);
}

TEST_F(Plot, ClickingARadioItemRedraws)
{
    form->setRadioItemIndex(3);
    form->PlotChannels();
    form->RadioGroup1Items->button(1)->click();  // through the window's binding
    EXPECT_EQ(counts(), (std::array<int, 3>{0, 1000, 0}));
}

TEST_F(Plot, FreshFormDrawsFlatZeros)
{
    // A new form: nothing captured yet, both views draw the zero arrays.
    form.reset();
    create();
    form->setRadioItemIndex(3);
    form->PlotChannels();
    EXPECT_EQ(form->Chart1->pointY(form->Series1, 500), 0.0);
    form->Button2Click();
    EXPECT_EQ(form->Chart1->pointY(form->Series3, 999), 0.0);
}

}  // namespace
