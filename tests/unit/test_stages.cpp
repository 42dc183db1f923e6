#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "Messages.h"
#include "VOQ.h"
#include "VOQ_API.h"
#include "test_calibration_images.h"

using namespace VOQ;
using voqtest::ErrorOf;

namespace {

VOQ_ProcessingStage Handle(ProcessingStage* stage) { return reinterpret_cast<VOQ_ProcessingStage>(stage); }

void Doubler(VOQ_Headset, double, void*) {}

class Stages : public ::testing::Test {
protected:
    void SetUp() override {
        const sigtest::Image image = sigtest::Standard1020();
        h.InterpretCalibrationMemory(image.data());
        h.ChooseChannels("Fz Cz-Pz", "", false);
    }
    Headset h{"deferred"};
};

}  // namespace

TEST(ProcessingStage, OwnedBorrowedAndCopiedChannels) {
    Source cz(SourceID::Cz, "Cz", 0, 1, 0);
    ProcessingStage stage(" filter ", nullptr, nullptr, nullptr);
    Channel* a = stage.AddChannel("a", 0);
    Channel* b = stage.AddChannel("b", 5);
    EXPECT_EQ(a->buffer.Capacity(), 1u);
    EXPECT_EQ(b->buffer.Capacity(), 5u);
    EXPECT_EQ(stage.GetChannelByIndex(1), b);
    EXPECT_EQ(ErrorOf([&] { stage.GetChannelByIndex(2); }),
              "Channel index 2 is out of range (2 channels available in ProcessingStage \" filter \")");
    EXPECT_EQ(stage.GetChannelByName("x", false), nullptr);
    EXPECT_EQ(ErrorOf([&] { stage.GetChannelByName("x", true); }),
              "Could not match Channel \"x\" (known names are: a, b)");

    // Borrowed channels outlive the stage's clearing.
    std::unique_ptr<Channel> own1(new Channel(cz, 3)), own2(new Channel("two", 4));
    own1->buffer.Write(7);
    ProcessingStage borrower("raw", nullptr, nullptr, nullptr);
    borrower.BorrowChannels({own1.get(), own2.get()});
    EXPECT_TRUE(borrower.borrowed);
    EXPECT_EQ(borrower.GetChannelByName("cz", true), own1.get());
    borrower.ClearChannels();
    EXPECT_FALSE(borrower.borrowed);
    EXPECT_TRUE(borrower.channels.empty());
    EXPECT_EQ(own1->buffer.LookBack(0), 7.0);

    // Copies: same terms, names and capacities, empty buffers.
    stage.CopyChannels({own1.get(), own2.get()});
    ASSERT_EQ(stage.channels.size(), 2u);
    EXPECT_FALSE(stage.borrowed);
    EXPECT_NE(stage.channels[0], own1.get());
    EXPECT_EQ(stage.channels[0]->sources, own1->sources);
    EXPECT_EQ(stage.channels[0]->buffer.Capacity(), 3u);
    EXPECT_EQ(stage.channels[0]->buffer.Buffered(), 0u);
    EXPECT_EQ(stage.channels[1]->name, "two");
    // Copying its own list replaces it with fresh copies.
    stage.CopyChannels(stage.channels);
    EXPECT_EQ(stage.channels.size(), 2u);
    EXPECT_EQ(stage.channels[1]->name, "two");
}

TEST_F(Stages, RawStageAndCallerStages) {
    ASSERT_EQ(h.NumberOfProcessingStages(), 1u);
    ProcessingStage* raw = h.GetProcessingStageByIndex(0);
    EXPECT_EQ(raw->name, "raw");
    EXPECT_EQ(raw->callback, nullptr);
    EXPECT_EQ(raw->input, nullptr);
    EXPECT_EQ(raw->channels, h.OutputChannels());

    int param = 0;
    ProcessingStage* filter = h.AddProcessingStage("Filter", &Doubler, &param, nullptr);
    EXPECT_EQ(filter->input, raw);
    EXPECT_EQ(filter->paramData, &param);
    ASSERT_EQ(filter->channels.size(), 2u);
    EXPECT_EQ(filter->channels[1]->String(true), "Cz-Pz");
    EXPECT_EQ(filter->channels[0]->Name(), "Fz");
    EXPECT_NE(filter->channels[0], raw->channels[0]);
    EXPECT_EQ(filter->channels[0]->buffer.Capacity(), raw->channels[0]->buffer.Capacity());
    // The headset's channels are now the last stage's.
    EXPECT_EQ(h.GetChannelByIndex(0), filter->channels[0]);
    EXPECT_EQ(h.GetChannelByName("cz-pz", true), filter->channels[1]);
    EXPECT_EQ(h.NumberOfChannels(), 2u);

    EXPECT_EQ(ErrorOf([&] { h.AddProcessingStage(" Filter ", nullptr, nullptr, nullptr); }),
              "cannot add ProcessingStage \" Filter \" because this name already exists in the cascade");
    EXPECT_EQ(ErrorOf([&] { h.AddProcessingStage("FILTER", nullptr, nullptr, raw); }),
              "cannot add ProcessingStage \"FILTER\" because this name already exists in the cascade");
    ProcessingStage* padded = h.AddProcessingStage(" Spaced ", nullptr, nullptr, raw);
    EXPECT_EQ(padded->input, raw);
    EXPECT_EQ(padded->name, " Spaced ");
    EXPECT_EQ(h.MatchProcessingStage("spaced", true), padded);
    EXPECT_EQ(ErrorOf([&] { h.AddProcessingStage("spaced", nullptr, nullptr, nullptr); }),
              "cannot add ProcessingStage \"spaced\" because this name already exists in the cascade");
    EXPECT_EQ(h.NumberOfProcessingStages(), 3u);

    EXPECT_EQ(h.MatchProcessingStage("  filter\t", true), filter);
    EXPECT_EQ(h.MatchProcessingStage("none", false), nullptr);
    EXPECT_EQ(ErrorOf([&] { h.MatchProcessingStage(" none ", true); }), "failed to match processing stage \"none\"");
    EXPECT_EQ(ErrorOf([&] { h.GetProcessingStageByIndex(3); }),
              "ProcessingStage index 3 is out of range (3 stages available)");

    // An input from elsewhere is refused.
    ProcessingStage stranger("stranger", nullptr, nullptr, nullptr);
    EXPECT_EQ(ErrorOf([&] { h.AddProcessingStage("next", nullptr, nullptr, &stranger); }),
              "cannot add ProcessingStage \"next\" because its input is not a stage of this headset");
    EXPECT_EQ(h.NumberOfProcessingStages(), 3u);
}

TEST_F(Stages, ReadingAndWritingThroughTheCInterface) {
    ProcessingStage* raw = h.GetProcessingStageByIndex(0);
    ProcessingStage* out = h.AddProcessingStage("out", nullptr, nullptr, nullptr);
    Channel* fz = raw->channels[0];
    fz->buffer.Allocate(4);  // no sampling rate known: room for more than one value
    fz->buffer.Write(1.5);
    fz->buffer.Write(2.5);

    EXPECT_EQ(VOQ_ProcessingStage_Read(Handle(raw), 0, 0), 2.5);
    EXPECT_EQ(VOQ_ProcessingStage_Read(Handle(raw), 0, 1), 1.5);
    EXPECT_EQ(VOQ_ProcessingStage_Read(Handle(raw), 0, 2), 0.0);  // beyond the unread values
    VOQ_ProcessingStage_Write(Handle(out), 1, VOQ_ProcessingStage_Read(Handle(raw), 0, 0) * 2);
    EXPECT_EQ(h.GetChannelByIndex(1)->buffer.Read(), 5.0);
    EXPECT_EQ(VOQ_ProcessingStage_GetInput(Handle(out)), Handle(raw));
    EXPECT_EQ(VOQ_ProcessingStage_GetNumberOfChannels(Handle(out)), 2u);

    fz->buffer.Read();
    fz->buffer.Read();
    EXPECT_EQ(VOQ_ProcessingStage_Read(Handle(raw), 0, 0), 0.0);  // all read

    VOQ_ClearError();
    EXPECT_EQ(VOQ_ProcessingStage_Read(Handle(raw), 2, 0), 0.0);
    EXPECT_STREQ(VOQ_Error(), "Channel index 2 is out of range (2 channels available in ProcessingStage \"raw\")");
    VOQ_ClearError();

    // Clearing "raw" leaves the montage alone.
    VOQ_ProcessingStage_ClearChannels(Handle(raw));
    EXPECT_EQ(raw->channels.size(), 0u);
    EXPECT_EQ(h.MontageString(true), "Fz-Pz Cz-Pz");
}

TEST_F(Stages, BuffersAndForgetting) {
    ProcessingStage* raw = h.GetProcessingStageByIndex(0);
    ProcessingStage* out = h.AddProcessingStage("out", nullptr, nullptr, nullptr);
    out->channels[0]->buffer.Write(3);
    raw->channels[1]->buffer.Write(4);
    h.ReallocateStageBuffers(nullptr, 1.0);
    h.ReallocateStageBuffers(out, 2.0);
    EXPECT_EQ(out->channels[0]->buffer.Buffered(), 0u);
    EXPECT_EQ(out->channels[0]->buffer.Capacity(), 1u);  // no sampling rate known
    EXPECT_EQ(raw->channels[1]->buffer.Buffered(), 1u);
    h.ReallocateStageBuffers(raw, 1.0);
    EXPECT_EQ(raw->channels[1]->buffer.Buffered(), 0u);

    ProcessingStage stranger("stranger", nullptr, nullptr, nullptr);
    EXPECT_EQ(ErrorOf([&] { h.ReallocateStageBuffers(&stranger, 1.0); }),
              "cannot reallocate the buffers of a ProcessingStage of another cascade");

    // Every montage or reference choice starts the cascade afresh.
    h.SetDefaultReference("A1", false);
    EXPECT_EQ(h.NumberOfProcessingStages(), 1u);
    h.AddProcessingStage("out", nullptr, nullptr, nullptr);
    h.ForgetCascade();
    EXPECT_EQ(h.NumberOfProcessingStages(), 0u);
    EXPECT_EQ(h.NumberOfChannels(), 2u);
    EXPECT_EQ(h.OutputChannels().size(), 2u);  // the montage again
    EXPECT_EQ(h.MontageString(true), "Fz-A1 Cz-Pz");

    // With an empty cascade a new stage has no input and no channels.
    ProcessingStage* first = h.AddProcessingStage("first", nullptr, nullptr, nullptr);
    EXPECT_EQ(first->input, nullptr);
    EXPECT_TRUE(first->channels.empty());
    EXPECT_TRUE(h.OutputChannels().empty());
}
