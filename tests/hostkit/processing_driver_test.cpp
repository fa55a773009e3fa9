#include "hostkit/processing_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

#include "hostkit/bitmap_operations.h"
#include "hostkit/host_services.h"

namespace {

// A filter that logs every call into its record and writes the inverted
// source into its output.
struct ProbeRecord {
    char log[64];
    int logLength;
    long pitchToSet;  // 0: leave the host's pitch
    long paramResult;
    int startResult;
    bool sawNullPreview;
    long lastFrame;
    VBitmap sourceSeen;
    VBitmap outputSeen;
};

ProbeRecord& Probe(const FilterActivation* activation) {
    return *static_cast<ProbeRecord*>(activation->filter_data);
}

void Log(const FilterActivation* activation, char event) {
    ProbeRecord& record = Probe(activation);
    if (record.logLength < 63) {
        record.log[record.logLength++] = event;
    }
}

int g_deinitCalls = 0;

int HOST_CDECL ProbeInit(FilterActivation* activation, const FilterFunctions*) {
    Log(activation, 'i');
    return 0;
}
void HOST_CDECL ProbeDeinit(FilterActivation*, const FilterFunctions*) { ++g_deinitCalls; }
long HOST_CDECL ProbeParam(FilterActivation* activation, const FilterFunctions*) {
    Log(activation, 'p');
    ProbeRecord& record = Probe(activation);
    if (record.pitchToSet != 0) {
        activation->dst->bitmap.pitch = record.pitchToSet;
    }
    return record.paramResult;
}
int HOST_CDECL ProbeStart(FilterActivation* activation, const FilterFunctions*) {
    Log(activation, 's');
    return Probe(activation).startResult;
}
int HOST_CDECL ProbeRun(const FilterActivation* activation, const FilterFunctions*) {
    Log(activation, 'r');
    ProbeRecord& record = Probe(activation);
    record.sawNullPreview = activation->ifp == nullptr;
    record.lastFrame = activation->pfsi->lCurrentFrame;
    record.sourceSeen = activation->src->bitmap;
    record.outputSeen = activation->dst->bitmap;
    const VBitmap& source = activation->src->bitmap;
    const VBitmap& output = activation->dst->bitmap;
    for (int y = 0; y < source.h; ++y) {
        for (int x = 0; x < source.w; ++x) {
            PictureRow(output, y)[x] = ~PictureRow(source, y)[x];
        }
    }
    return 0;
}
int HOST_CDECL ProbeEnd(FilterActivation* activation, const FilterFunctions*) {
    Log(activation, 'e');
    return 0;
}

FilterDefinition ProbeDefinition() {
    FilterDefinition definition{};
    definition.name = "probe";
    definition.inst_data_size = sizeof(ProbeRecord);
    definition.initProc = &ProbeInit;
    definition.deinitProc = &ProbeDeinit;
    definition.runProc = &ProbeRun;
    definition.paramProc = &ProbeParam;
    definition.startProc = &ProbeStart;
    definition.endProc = &ProbeEnd;
    return definition;
}

TEST(FilterInstance, StartsFromAZeroFilledRecordOfTheDefinitionsSize) {
    FilterDefinition definition = ProbeDefinition();
    definition.initProc = nullptr;
    FilterInstance instance(definition);
    const auto* bytes = static_cast<const unsigned char*>(instance.record());
    EXPECT_TRUE(std::all_of(bytes, bytes + sizeof(ProbeRecord), [](unsigned char b) { return b == 0; }));
    EXPECT_EQ(instance.activation().filter_data, instance.record());
    EXPECT_EQ(instance.activation().filter, &definition);
    EXPECT_EQ(instance.activation().ifp, nullptr);
}

TEST(FilterInstance, RunsInitOnCreationDeinitOnDestructionAndCopiesAsABlock) {
    const FilterDefinition definition = ProbeDefinition();
    g_deinitCalls = 0;
    {
        FilterInstance original(definition);
        EXPECT_EQ(std::string(original.recordAs<ProbeRecord>().log), "i");
        original.recordAs<ProbeRecord>().lastFrame = 77;
        FilterInstance copy(original);
        EXPECT_NE(copy.record(), original.record());
        EXPECT_EQ(copy.activation().filter_data, copy.record());
        EXPECT_EQ(copy.recordAs<ProbeRecord>().lastFrame, 77);
        EXPECT_EQ(std::string(copy.recordAs<ProbeRecord>().log), "i") << "no second init";
    }
    EXPECT_EQ(g_deinitCalls, 2);
}

struct PassLayout {
    int width;
    long pitchToSet;
    long paramResult;
    long expectedSourcePitch;
    long expectedOutputPitch;
    bool separateOutput;
};

class ProcessingPassLayoutTest : public ::testing::TestWithParam<PassLayout> {};

TEST_P(ProcessingPassLayoutTest, LaysTheOutputOutFromThePitchTheFilterSets) {
    const PassLayout& c = GetParam();
    const FilterDefinition definition = ProbeDefinition();
    FilterInstance instance(definition);
    instance.recordAs<ProbeRecord>().pitchToSet = c.pitchToSet;
    instance.recordAs<ProbeRecord>().paramResult = c.paramResult;
    const int height = 3;
    ProcessingPass pass(instance, c.width, height);
    EXPECT_EQ(pass.paramResult(), c.paramResult);
    const VBitmap& source = pass.source().bitmap;
    const VBitmap& output = pass.output().bitmap;
    EXPECT_EQ(source.pitch, c.expectedSourcePitch);
    EXPECT_EQ(source.modulo, c.expectedSourcePitch - 4 * c.width);
    EXPECT_EQ(output.pitch, c.expectedOutputPitch);
    EXPECT_EQ(output.modulo, c.expectedOutputPitch - 4 * c.width);
    EXPECT_EQ(output.size, c.expectedOutputPitch * height);
    EXPECT_EQ(output.w, c.width);
    EXPECT_EQ(output.h, height);
    EXPECT_EQ(output.depth, 32);
    EXPECT_EQ(output.operations, &HostBitmapOperations());
    EXPECT_EQ(source.operations, &HostBitmapOperations());
    EXPECT_EQ(output.data == source.data, !c.separateOutput);

    // A picture goes in top-down and comes back top-down, inverted by the filter.
    std::vector<Pixel32> picture(static_cast<std::size_t>(c.width) * height);
    std::iota(picture.begin(), picture.end(), 0x100);
    pass.LoadSource(picture.data());
    EXPECT_EQ(PictureRow(source, 0)[0], 0x100u);
    EXPECT_EQ(pass.RunFrame(5), 0);
    std::vector<Pixel32> result(picture.size());
    pass.StoreOutput(result.data());
    for (std::size_t i = 0; i < picture.size(); ++i) {
        ASSERT_EQ(result[i], ~picture[i]) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ProcessingPassLayoutTest,
    ::testing::Values(PassLayout{641, 0, 1, 2568, 2568, true},
                      PassLayout{640, 0, 1, 2560, 2560, true},
                      PassLayout{5, 4 * 5 + 12, 1, 24, 32, true},
                      PassLayout{5, 4 * 5, 1, 24, 20, true},
                      PassLayout{7, 0, 0, 32, 32, false}));  // in place

// A caller that keeps its frames itself gets a pass laid out as usual, but
// with no memory of the pass's own, and runs on the frames it points at.
TEST(ProcessingPass, RunsOnTheCallersFramesWhenItHoldsThem) {
    const FilterDefinition definition = ProbeDefinition();
    FilterInstance instance(definition);
    instance.recordAs<ProbeRecord>().paramResult = kFilterParamSwapBuffers;
    ProcessingPass pass(instance, 5, 2, FrameMemory::Caller);
    VBitmap& source = pass.source().bitmap;
    VBitmap& output = instance.activation().dst->bitmap;
    EXPECT_EQ(source.data, nullptr);
    EXPECT_EQ(output.data, nullptr);
    EXPECT_EQ(source.pitch, 24);
    std::vector<Pixel32> in(12, 0x00123456u);
    std::vector<Pixel32> out(12, 0);
    source.data = in.data();
    output.data = out.data();
    pass.RunFrame(0);
    EXPECT_EQ(out[0], ~0x00123456u);
    EXPECT_EQ(out[6], ~0x00123456u);
    EXPECT_EQ(out[5], 0u) << "the row's padding is not the filter's";
}

TEST(ProcessingPass, CallsParameterStartRunAndEndInTheHostsOrder) {
    const FilterDefinition definition = ProbeDefinition();
    FilterInstance instance(definition);
    instance.recordAs<ProbeRecord>().paramResult = kFilterParamSwapBuffers;
    {
        ProcessingPass pass(instance, 4, 2);
        pass.SetMicrosecondsPerFrame(40000);
        pass.RunFrame(0);
        pass.RunFrame(12);
        EXPECT_EQ(instance.recordAs<ProbeRecord>().lastFrame, 12);
        EXPECT_EQ(pass.frameState().lCurrentSourceFrame, 12);
        EXPECT_EQ(pass.frameState().lDestFrameMS, 480);
        EXPECT_TRUE(instance.recordAs<ProbeRecord>().sawNullPreview);
        pass.Finish();
        pass.Finish();
        EXPECT_THROW(pass.RunFrame(13), std::logic_error);
    }
    EXPECT_EQ(std::string(instance.recordAs<ProbeRecord>().log), "ipsrre");
    EXPECT_EQ(instance.activation().src, nullptr) << "no pointer into a finished pass";
    EXPECT_EQ(instance.activation().pfsi, nullptr);

    { ProcessingPass second(instance, 4, 2); }  // the destructor ends the pass
    EXPECT_EQ(std::string(instance.recordAs<ProbeRecord>().log), "ipsrrepse");
}

TEST(ProcessingPass, RejectsAnOutputPitchThatCannotHoldARow) {
    const FilterDefinition definition = ProbeDefinition();
    for (long pitch : {4L * 10 - 4, -40L, 4L * 10 + 2, 1L << 30}) {
        FilterInstance instance(definition);
        instance.recordAs<ProbeRecord>().paramResult = kFilterParamSwapBuffers;
        instance.recordAs<ProbeRecord>().pitchToSet = pitch;
        try {
            ProcessingPass pass(instance, 10, 8);
            FAIL() << "pitch " << pitch << " accepted";
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(std::to_string(pitch)), std::string::npos)
                << error.what();
        }
        EXPECT_EQ(std::string(instance.recordAs<ProbeRecord>().log), "ip") << "never started";
        EXPECT_EQ(instance.activation().dst, nullptr);
    }
}

TEST(ProcessingPass, ReportsAFailedStartAndNonsenseSizes) {
    const FilterDefinition definition = ProbeDefinition();
    FilterInstance instance(definition);
    instance.recordAs<ProbeRecord>().startResult = 3;
    EXPECT_THROW(ProcessingPass(instance, 4, 4), std::runtime_error);
    EXPECT_EQ(std::string(instance.recordAs<ProbeRecord>().log), "ips");
    EXPECT_THROW(ProcessingPass(instance, 0, 4), std::invalid_argument);
    EXPECT_THROW(ProcessingPass(instance, 4, -1), std::invalid_argument);
    EXPECT_THROW(ProcessingPass(instance, 1 << 20, 1 << 20), std::invalid_argument);
}

TEST(ProcessingPass, RunsADefinitionWithoutOptionalProcedures) {
    FilterDefinition bare{};
    bare.inst_data_size = 0;
    FilterInstance instance(bare);
    ProcessingPass pass(instance, 3, 3);
    EXPECT_EQ(pass.RunFrame(0), 0);
    EXPECT_EQ(pass.output().bitmap.data, pass.source().bitmap.data);
}

}  // namespace
