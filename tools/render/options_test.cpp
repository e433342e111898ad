#include "tools/render/options.h"

#include <gtest/gtest.h>

#include "tools/render/usage_mistakes.h"

namespace render_tool {
namespace {

ParseOutcome parse(std::vector<std::string> args) { return parse_render_options(args); }

TEST(RenderOptions, SingleFrameForms) {
  struct Case {
    std::vector<std::string> args;
    FramePose pose;
    float clock;
    std::string png, raw;
    bool verify = false;
  };
  const Case cases[] = {
      {{}, FramePose::first_viewer_frame, 0.0f, "velmora.png", ""},
      {{"--initial"}, FramePose::initial, 0.0f, "velmora.png", ""},
      {{"--clock", "2.5"}, FramePose::clock, 2.5f, "velmora.png", ""},
      {{"--clock", "-1.5", "--raw", "f.raw"}, FramePose::clock, -1.5f, "", "f.raw"},
      {{"--clock=3", "--out", "a.png", "--raw", "b.raw"}, FramePose::clock, 3.0f, "a.png", "b.raw"},
      {{"--initial", "--out", "x.png"}, FramePose::initial, 0.0f, "x.png", ""},
      {{"--clock", "0", "--out", "-"}, FramePose::clock, 0.0f, "-", ""},
      {{"--clock", "1.2e-38", "--raw", "-"}, FramePose::clock, 1.2e-38f, "", "-"},
      {{"--clock", "-3.4e38"}, FramePose::clock, -3.4e38f, "velmora.png", ""},
      // --verify writes no picture.
      {{"--verify"}, FramePose::first_viewer_frame, 0.0f, "", "", true},
      {{"--verify", "--clock", "2", "--size", "320x240"}, FramePose::clock, 2.0f, "", "", true},
  };
  for (const Case& c : cases) {
    const ParseOutcome out = parse(c.args);
    ASSERT_TRUE(out.options) << out.text;
    EXPECT_EQ(out.options->mode, Mode::single_frame);
    EXPECT_EQ(out.options->pose, c.pose);
    if (c.pose == FramePose::clock) {
      EXPECT_EQ(out.options->clock, c.clock);
    }
    std::string png, raw;
    for (const FrameOutput& output : out.options->frame_outputs) {
      (std::string(output.format->name) == "png" ? png : raw) += output.path;
    }
    EXPECT_EQ(png, c.png);
    EXPECT_EQ(raw, c.raw);
    EXPECT_EQ(out.options->verify, c.verify);
  }
}

TEST(RenderOptions, AnimationAndBenchmarkForms) {
  const ParseOutcome anim =
      parse({"--frames", "3", "--rate", "30", "--out-dir", "d", "--video", "v.mp4", "--kernel", "scalar"});
  ASSERT_TRUE(anim.options) << anim.text;
  EXPECT_EQ(anim.options->mode, Mode::animation);
  EXPECT_EQ(anim.options->frames, 3);
  EXPECT_EQ(anim.options->rate, 30.0f);
  EXPECT_EQ(anim.options->out_dir, "d");
  EXPECT_EQ(anim.options->video_path, "v.mp4");
  EXPECT_EQ(anim.options->kernel, "scalar");
  EXPECT_FALSE(anim.options->threads);

  const ParseOutcome anim_default_rate = parse({"--frames", "1", "--out-dir", "d"});
  ASSERT_TRUE(anim_default_rate.options);
  EXPECT_EQ(anim_default_rate.options->rate, 60.0f);
  EXPECT_TRUE(anim_default_rate.options->video_path.empty());

  const ParseOutcome bench = parse({"--bench", "--seconds", "0.25", "--json", "--threads", "2"});
  ASSERT_TRUE(bench.options) << bench.text;
  EXPECT_EQ(bench.options->mode, Mode::benchmark);
  EXPECT_EQ(bench.options->seconds, 0.25);
  EXPECT_TRUE(bench.options->json);
  EXPECT_EQ(bench.options->threads, 2);
  EXPECT_FALSE(bench.options->kernel);

  // Whole numbers are decimal, leading zeros and all; real numbers too.
  const ParseOutcome zeros = parse({"--frames", "010", "--out-dir", "d", "--threads", "007", "--rate", "030"});
  ASSERT_TRUE(zeros.options) << zeros.text;
  EXPECT_EQ(zeros.options->frames, 10);
  EXPECT_EQ(zeros.options->threads, 7);
  EXPECT_EQ(zeros.options->rate, 30.0f);

  const ParseOutcome bench_defaults = parse({"--bench"});
  ASSERT_TRUE(bench_defaults.options);
  EXPECT_EQ(bench_defaults.options->seconds, kDefaultBenchSeconds);
  EXPECT_FALSE(bench_defaults.options->json);
}

// Every mistake is one line on standard error, naming what is wrong, with
// exit status 2.
TEST(RenderOptions, MistakesAreOneLineWithStatusTwo) {
  for (const UsageMistake& c : usage_mistakes()) {
    std::string joined;
    for (const std::string& a : c.args) joined += a + " ";
    const ParseOutcome out = parse(c.args);
    EXPECT_FALSE(out.options) << joined;
    EXPECT_TRUE(out.text_is_error) << joined;
    EXPECT_EQ(out.exit_code, 2) << joined;
    EXPECT_EQ(out.text.rfind("velmora-render: ", 0), 0u) << joined << "-> " << out.text;
    EXPECT_EQ(out.text.find('\n'), std::string::npos) << joined << "-> " << out.text;
    EXPECT_NE(out.text.find(c.mentions), std::string::npos) << joined << "-> " << out.text;
    // The tool's own words, not the parser's.
    for (const char* theirs : {"Could not convert", "Failed parsing", "Value ", " excludes ", " requires "}) {
      EXPECT_EQ(out.text.find(theirs), std::string::npos) << joined << "-> " << out.text;
    }
  }
}

TEST(RenderOptions, HelpAndVersionGoToStandardOutput) {
  const ParseOutcome help = parse({"--help"});
  EXPECT_FALSE(help.options);
  EXPECT_FALSE(help.text_is_error);
  EXPECT_EQ(help.exit_code, 0);
  // The defaults that a user cannot guess are spelt out.
  for (const char* needle : {"--frames", "--bench", "--kernel", "velmora.png", "0.5/F", "frame_0000.png"}) {
    EXPECT_NE(help.text.find(needle), std::string::npos) << needle;
  }

  // The CUDA build's name leads its messages and its version.
  EXPECT_EQ(parse_render_options({"--bogus"}, "velmora-render-cuda").text.rfind("velmora-render-cuda: ", 0), 0u);
  EXPECT_EQ(parse_render_options({"--version"}, "velmora-render-cuda").text,
            std::string("velmora-render-cuda ") + VELMORA_VERSION);

  const ParseOutcome version = parse({"--version"});
  EXPECT_FALSE(version.options);
  EXPECT_FALSE(version.text_is_error);
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.text, std::string("velmora-render ") + VELMORA_VERSION);
}

}  // namespace
}  // namespace render_tool
