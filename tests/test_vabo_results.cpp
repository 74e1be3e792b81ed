/*
 * test_vabo_results.cpp -- the result files of vabo (poni=, json=,
 * wavelength=), tested by running the built program on the shipped example
 * calibration and reading the files back: the JSON document with the JSON
 * library, the PONI file line by line.  Runs without the new options must
 * not change at all, and the files follow the exit status: written after
 * the result lines (also at 65), only the JSON file at 33, nothing at 1.
 */
#include "test_program.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

using Json = nlohmann::ordered_json; /* keeps the order of the keys */
using vabo_test::format;
using vabo_test::RunOutput;
using vabo_test::ScratchDir;
using vabo_test::split_lines;
using vabo_test::words;

const std::string &kExample = vabo_test::kExamplePoints;
const std::vector<std::string> &kStart = vabo_test::kExampleStart;
const std::vector<std::string> kFiles = {"poni=r.poni", "json=r.json"};
const std::string &kBanner = vabo_test::kVaboBanner;
const std::string kSuccess = "succesfully completed";
const std::string kTooPoor =
    "Standard deviation of optimized parameters exceeds maximum accepted "
    "deviation";
const std::string kNotTerminated =
    "The optimization loop did not terminate successfully.";
const char *const kNames[NParams] = {"pix1", "pix2", "cen1", "cen2",
                                     "dis",  "rot1", "rot2", "rot3"};

std::vector<std::string> join(std::vector<std::string> a,
                              const std::vector<std::string> &b)
{
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

/* Runs vabo on the example file in dir with the start values and args. */
RunOutput run_example(const ScratchDir &dir,
                      const std::vector<std::string> &args,
                      std::vector<std::string> start = kStart)
{
  return vabo_test::run_in(dir, join(join({"input=" + kExample}, start), args),
                           "");
}

Json read_json(const ScratchDir &dir, const std::string &name = "r.json")
{
  return Json::parse(vabo_test::slurp(dir.file(name)), nullptr, false);
}

bool exists(const ScratchDir &dir, const std::string &name)
{
  return vabo_test::fs::exists(dir.file(name));
}

double number(const std::string &text)
{
  return std::strtod(text.c_str(), nullptr);
}

/* ------------------------------------------------------------------ */

TEST(ResultFiles, NewOptionsLeaveOutputAndStatusAsTheyAre)
{
  std::vector<std::string> seven(kStart.begin(), kStart.end() - 1);
  struct Case {
    const char *what;
    std::vector<std::string> args;
    std::string input; /* empty: the example file */
    int status;
  } cases[] = {
      {"success", kStart, "", 0},
      {"verbose", join({"debug=1"}, kStart), "", 0},
      {"data tables", join({"debug=8", "maxiter=2"}, kStart), "", 0},
      {"fit too poor", join({"maxdev=0"}, kStart), "", 65},
      {"refinement fails",
       {"75_um", "75_um", "1000", "1000", "20_cm", "0", "0", "~0"},
       "",
       33},
      {"no step", join({"maxiter=0", "maxdev=1"}, kStart), "", 0},
      {"negative weight", kStart,
       vabo_test::slurp(kExample) + "0.2 900 1000 -2\n", 0},
      {"bad data", kStart, "0.2 900 1000\n0.2 ? 1\n", 1},
      {"missing start value", seven, "0.2 900 1000\n", 1},
  };
  for (const auto &c : cases) {
    ScratchDir dir;
    dir.write("in.dat", c.input);
    auto args = c.input.empty() ? join({"input=" + kExample}, c.args) : c.args;
    auto stdin_path = c.input.empty() ? "" : dir.file("in.dat").string();
    RunOutput plain = vabo_test::run_in(dir, args, stdin_path);
    RunOutput with = vabo_test::run_in(
        dir, join(join(kFiles, args), {"wavelength=0.5_Ao"}), stdin_path);
    EXPECT_EQ(with.out, plain.out) << c.what;
    EXPECT_EQ(with.err, plain.err) << c.what;
    EXPECT_EQ(with.status, plain.status) << c.what;
    EXPECT_EQ(plain.status, c.status) << c.what;
  }
}

TEST(ResultFiles, ResultLinesStayTheLastLinesUnderTheTrace)
{
  /* The trace shows the extra work of the result files, before the result
   * lines, which stay where scripts read them. */
  for (const char *debug : {"debug=0x20", "debug=0x10"}) {
    ScratchDir dir;
    RunOutput plain = run_example(dir, {debug});
    RunOutput with = run_example(dir, join({debug}, kFiles));
    auto a = split_lines(plain.out), b = split_lines(with.out);
    ASSERT_GE(a.size(), 3u);
    ASSERT_GE(b.size(), a.size()) << debug;
    EXPECT_TRUE(std::equal(a.end() - 3, a.end(), b.end() - 3)) << debug;
    EXPECT_EQ(with.err, plain.err) << debug;
    EXPECT_EQ(with.status, 0) << debug;
  }
}

TEST(ResultFiles, JsonCarriesTheResultAtFullPrecision)
{
  ScratchDir dir;
  RunOutput r = run_example(dir, join({"debug=1"}, kFiles));
  ASSERT_EQ(r.status, 0) << r.err;
  Json j = read_json(dir);
  ASSERT_FALSE(j.is_discarded());

  EXPECT_EQ(j["program"], "vabo");
  EXPECT_EQ(j["version"], "V1.6 2013-12-09 Kelvardo");
  EXPECT_EQ(j["arguments"],
            Json(join({vabo_test::kVaboProgram, "input=" + kExample},
                      join(kStart, join({"debug=1"}, kFiles)))));
  EXPECT_EQ(j["input"], kExample);
  EXPECT_EQ(j["status"], 0);
  EXPECT_EQ(j["message"], kSuccess);

  /* The verbose lines: steps, then Par, ParDev, BeamPar, ParStat, and the
   * three result lines; the JSON values print as they do. */
  auto lines = split_lines(r.out);
  ASSERT_GE(lines.size(), 7u);
  EXPECT_EQ(j["steps"], vabo_test::count_prefix(r.out, "step="));
  auto par = words(lines[lines.size() - 3]);
  auto dev = words(lines[lines.size() - 2]);
  auto stat = words(lines[lines.size() - 1]);
  auto beam = words(lines[lines.size() - 5].substr(12));
  const char *units[NParams] = {"m", "m",   "pixel", "pixel",
                                "m", "rad", "rad",   "rad"};
  const double start[NParams] = {75e-6, 75e-6, 1000, 1000, 0.2, 0, 0, 0};
  const bool refined[NParams] = {false, false, true, true,
                                 true,  true,  true, false};
  ASSERT_EQ(j["parameters"].size(), 8u);
  int k = 0;
  for (const auto &[name, p] : j["parameters"].items()) {
    EXPECT_EQ(name, kNames[k]); /* natural order */
    EXPECT_EQ(format("%lg", p["value"].get<double>()), par[k]) << name;
    EXPECT_EQ(format("%lg", p["deviation"].get<double>()), dev[k]) << name;
    EXPECT_EQ(p["unit"], units[k]) << name;
    EXPECT_EQ(p["refined"], refined[k]) << name;
    EXPECT_EQ(p["start"], start[k]) << name;
    if (!refined[k]) {
      EXPECT_EQ(p["error"], 0.0) << name;
    }
    ++k;
  }
  const char *stat_names[NStats] = {"stdev", "mindev", "maxdev",
                                    "total", "ndata",  "nopt"};
  for (int s = 0; s < NStats; ++s)
    EXPECT_EQ(format("%lg", j["statistics"][stat_names[s]].get<double>()),
              stat[s]);
  EXPECT_TRUE(j["statistics"]["ndata"].is_number_integer());
  EXPECT_EQ(j["statistics"]["ndata"], 106);
  EXPECT_EQ(j["statistics"]["nopt"], 5);
  k = 0;
  for (const auto &[name, value] : j["beam"].items())
    EXPECT_EQ(format("%lg", value.get<double>()), beam[k++]) << name;

  /* Only the refined parameters have rows; errors are the roots of the
   * diagonal, correlations the covariance scaled by them. */
  const Json names = {"cen1", "cen2", "dis", "rot1", "rot2"};
  EXPECT_EQ(j["covariance"]["names"], names);
  EXPECT_EQ(j["correlation"]["names"], names);
  const Json &cov = j["covariance"]["matrix"];
  const Json &cor = j["correlation"]["matrix"];
  ASSERT_EQ(cov.size(), 5u);
  for (size_t a = 0; a < 5; ++a) {
    const double ea = std::sqrt(cov[a][a].get<double>());
    EXPECT_DOUBLE_EQ(
        j["parameters"][names[a].get<std::string>()]["error"].get<double>(),
        ea);
    for (size_t b = 0; b < 5; ++b) {
      EXPECT_EQ(cov[a][b], cov[b][a]);
      EXPECT_NEAR(cor[a][b].get<double>(),
                  cov[a][b].get<double>() /
                      (ea * std::sqrt(cov[b][b].get<double>())),
                  1e-15);
    }
  }
  /* The example's cen1 is 0.13 px off its true value: the standard error
   * must be of that size, not the partial deviation of 0.045 px. */
  EXPECT_GT(j["parameters"]["cen1"]["error"].get<double>(), 0.07);
  EXPECT_LT(j["parameters"]["cen1"]["error"].get<double>(), 0.2);

  const Json &poni = j["poni"];
  const Json &pars = j["parameters"];
  EXPECT_EQ(poni["dist"], pars["dis"]["value"]);
  EXPECT_EQ(poni["poni1"], (pars["cen1"]["value"].get<double>() + 0.5) *
                               pars["pix1"]["value"].get<double>());
  EXPECT_EQ(poni["poni2"], (pars["cen2"]["value"].get<double>() + 0.5) *
                               pars["pix2"]["value"].get<double>());
  for (const char *rot : {"rot1", "rot2", "rot3"})
    EXPECT_EQ(poni[rot], pars[rot]["value"]);
  EXPECT_EQ(poni["pixel1"], pars["pix1"]["value"]);
  EXPECT_FALSE(poni.contains("wavelength"));
}

TEST(ResultFiles, PoniFileReadsBackToTheJsonGeometry)
{
  ScratchDir dir;
  RunOutput r = run_example(dir, join(kFiles, {"wavelength=0.72932_Ao"}));
  ASSERT_EQ(r.status, 0) << r.err;
  const Json poni = read_json(dir)["poni"];
  EXPECT_EQ(poni["wavelength"], 0.72932 * 1e-10);
  auto lines = split_lines(vabo_test::slurp(dir.file("r.poni")));
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[0],
            "# Nota: C-Order, 1 refers to the Y axis, 2 to the X axis");
  const std::string prefix = "# Calibration done by vabo at ";
  ASSERT_EQ(lines[1].compare(0, prefix.size(), prefix), 0) << lines[1];
  struct tm date {};
  const char *end =
      strptime(lines[1].c_str() + prefix.size(), "%a %b %e %H:%M:%S %Y", &date);
  EXPECT_TRUE(end && *end == '\0') << lines[1]; /* ctime's layout, whole */
  EXPECT_EQ(lines[2], "poni_version: 2");
  EXPECT_EQ(lines[3], "Detector: Detector");
  EXPECT_EQ(lines[4], "Detector_config: {\"pixel1\": 7.5e-05, \"pixel2\": "
                      "7.5e-05, \"max_shape\": null}");
  /* Each number reads back to the JSON's double and is never longer than
   * the 17 digits that always suffice. */
  const char *keys[] = {"Distance", "Poni1", "Poni2",     "Rot1",
                        "Rot2",     "Rot3",  "Wavelength"};
  const char *fields[] = {"dist", "poni1", "poni2",     "rot1",
                          "rot2", "rot3",  "wavelength"};
  for (int k = 0; k < 7; ++k) {
    const std::string prefix = std::string(keys[k]) + ": ";
    ASSERT_EQ(lines[5 + k].substr(0, prefix.size()), prefix);
    const std::string text = lines[5 + k].substr(prefix.size());
    const double value = poni[fields[k]].get<double>();
    EXPECT_EQ(number(text), value) << keys[k];
    EXPECT_LE(text.size(), format("%.17g", value).size()) << keys[k];
  }
}

TEST(ResultFiles, PoorFitWritesBothFilesWithItsStatus)
{
  ScratchDir dir;
  RunOutput r = run_example(dir, join({"maxdev=0"}, kFiles));
  EXPECT_EQ(r.status, 65);
  EXPECT_EQ(split_lines(r.out).size(), 3u);
  EXPECT_TRUE(exists(dir, "r.poni"));
  Json j = read_json(dir);
  EXPECT_EQ(j["status"], 65);
  EXPECT_EQ(j["message"], kTooPoor);
  EXPECT_TRUE(j["parameters"]["dis"]["value"].is_number());
}

TEST(ResultFiles, FailedRefinementWritesOnlyTheJsonWithTheStartValues)
{
  ScratchDir dir;
  auto start = kStart;
  start[7] = "~0"; /* rot3 acts on no angle */
  RunOutput r = run_example(dir, kFiles, start);
  EXPECT_EQ(r.status, 33);
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(exists(dir, "r.poni"));
  Json j = read_json(dir);
  EXPECT_EQ(j["status"], 33);
  EXPECT_EQ(j["message"], kNotTerminated);
  EXPECT_EQ(j["steps"], 0);
  EXPECT_EQ(j["parameters"]["dis"]["start"], 0.2);
  EXPECT_EQ(j["parameters"]["rot3"]["refined"], true);
  for (const char *field : {"value", "deviation", "error"})
    EXPECT_TRUE(j["parameters"]["cen1"][field].is_null()) << field;
  for (const char *section :
       {"statistics", "covariance", "correlation", "beam", "poni"})
    EXPECT_TRUE(j[section].is_null()) << section;
}

TEST(ResultFiles, NothingIsWrittenBeforeTheRefinement)
{
  std::vector<std::string> seven(kStart.begin(), kStart.end() - 1);
  const std::vector<std::vector<std::string>> cases = {
      join(seven, {"input=" + kExample}),
      join(kStart, {"input=missing.dat"}),
      join(join(kStart, {"input=" + kExample}), {"maxdev=?", "wavelength=?"}),
  };
  for (const auto &args : cases) {
    ScratchDir dir;
    RunOutput r = vabo_test::run_in(dir, join(kFiles, args), "");
    EXPECT_EQ(r.status, 1) << args.back();
    EXPECT_FALSE(exists(dir, "r.poni")) << args.back();
    EXPECT_FALSE(exists(dir, "r.json")) << args.back();
  }
}

TEST(ResultFiles, UnwritableFileIsReportedAndFailsTheRun)
{
  const std::string kAdvice =
      "The optimization loop did not terminate successfully.\n"
      "Adjust the start parameters or modify the input data.\n";
  struct Case {
    const char *what;
    std::vector<std::string> args;
    bool refine_fails;
    int status;
    std::string failure; /* stderr after the banner, up to the status line */
  } cases[] = {
      {"poni",
       {"poni=no/r.poni", "json=r.json"},
       false,
       1,
       "ERROR: writing no/r.poni: No such file or directory\n"},
      {"json",
       {"json=no/r.json"},
       false,
       1,
       "ERROR: writing no/r.json: No such file or directory\n"},
      {"json is a directory",
       {"json=."},
       false,
       1,
       "ERROR: writing .: Is a directory\n"},
      {"json at 33",
       {"json=no/r.json"},
       true,
       33,
       "ERROR: writing no/r.json: No such file or directory\n"},
  };
  for (const auto &c : cases) {
    ScratchDir dir;
    auto start = kStart;
    if (c.refine_fails) start[7] = "~0";
    RunOutput plain = run_example(dir, {}, start);
    RunOutput r = run_example(dir, c.args, start);
    EXPECT_EQ(r.out, plain.out) << c.what; /* the result lines stand */
    EXPECT_EQ(r.status, c.status) << c.what;
    EXPECT_EQ(r.err, kBanner + c.failure +
                         format("ERROR: status=%d\n", c.status) +
                         (c.refine_fails ? kAdvice : ""))
        << c.what;
  }
  /* The JSON file written after the failed PONI file says so. */
  ScratchDir dir;
  run_example(dir, {"poni=no/r.poni", "json=r.json"});
  Json j = read_json(dir);
  EXPECT_EQ(j["status"], 1);
  EXPECT_EQ(j["message"], "writing no/r.poni: No such file or directory");

  /* A poor fit keeps its status 65. */
  RunOutput poor = run_example(dir, {"maxdev=0", "json=no/r.json"});
  EXPECT_EQ(poor.status, 65);
  EXPECT_NE(
      poor.err.find("ERROR: writing no/r.json: No such file or directory\n"
                    "ERROR: status=65\n"),
      std::string::npos);
}

TEST(ResultFiles, WavelengthMustBeOnePositiveLength)
{
  struct Case {
    std::string text;
    std::string reason; /* empty: accepted */
    double metres;
  } cases[] = {
      {"0.72932_Ao", "", 0.72932 * 1e-10},
      {"1.5406e-10", "", 1.5406e-10},
      {"0.1_nm ", "", 0.1 * 1e-9},
      {"?", "expression is not a float number", 0},
      {"", "expression is not a float number", 0},
      {"0.72932Ao", "the text >>Ao<< follows the value", 0},
      {"-1_Ao", "-1e-10 m is not a positive length", 0},
      {"1e300*1e300", "inf m is not a positive length", 0},
  };
  for (const auto &c : cases) {
    ScratchDir dir;
    RunOutput r = run_example(dir, join(kFiles, {"wavelength=" + c.text}));
    if (c.reason.empty()) {
      EXPECT_EQ(r.status, 0) << c.text;
      EXPECT_EQ(read_json(dir)["poni"]["wavelength"], c.metres) << c.text;
      continue;
    }
    EXPECT_EQ(r.err, kBanner + "ERROR: wavelength=" + c.text +
                         " is not a wavelength: " + c.reason +
                         "\nERROR: status=1\n");
    EXPECT_EQ(r.status, 1) << c.text;
    EXPECT_EQ(r.out, "") << c.text;
  }
}

TEST(ResultFiles, TooFewPointsGiveNoStandardErrors)
{
  /* Five points of five rings for five refined parameters: the fit is
   * exact, but no degree of freedom is left for an error. */
  std::string five;
  int index = 0;
  for (const std::string &line : split_lines(vabo_test::slurp(kExample)))
    if (!line.empty() && line[0] != '#' && index++ % 25 == 0)
      five += line + "\n";
  ScratchDir dir;
  dir.write("five.dat", five);
  RunOutput r = vabo_test::run_in(dir, join(kStart, kFiles),
                                  dir.file("five.dat").string());
  ASSERT_EQ(r.status, 0) << r.err;
  Json j = read_json(dir);
  EXPECT_EQ(j["input"], "(stdin)");
  EXPECT_EQ(j["statistics"]["ndata"], 5);
  EXPECT_EQ(j["message"], kSuccess + "; no standard errors: no more points of "
                                     "positive weight than refined parameters");
  EXPECT_TRUE(j["parameters"]["cen1"]["error"].is_null());
  EXPECT_EQ(j["parameters"]["pix1"]["error"], 0.0);
  EXPECT_TRUE(j["covariance"].is_null());
  EXPECT_TRUE(j["correlation"].is_null());
}

TEST(ResultFiles, ArgumentsThatAreNotUtf8StillGiveValidJson)
{
  /* A ninth start value is ignored by the run, but it is an argument. */
  ScratchDir dir;
  RunOutput r = run_example(dir, join(kFiles, {"\xff\xfe"}));
  ASSERT_EQ(r.status, 0) << r.err;
  Json j = read_json(dir);
  ASSERT_FALSE(j.is_discarded());
  EXPECT_EQ(j["arguments"].back(),
            "\xEF\xBF\xBD\xEF\xBF\xBD"); /* U+FFFD twice */
}

} // namespace
