// Every program answers --version and --help given alone, and does nothing else: no tap, no
// accessibility request, no keystroke, no read of standard input. Given with anything else, the
// same words are the program's own arguments.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/process.h"
#include "tests/e2e/standin_files.h"

namespace {

TEST(VersionAndHelp, EveryProgramAnswersAloneAndTouchesNothing) {
    const std::pair<const char*, const char*> programs[] = {
        {"keywatch", KEYWATCH_PATH},       {"fieldscan", FIELDSCAN_PATH},
        {"targetprobe", TARGETPROBE_PATH}, {"grabtext", GRABTEXT_PATH},
        {"pastekey", PASTEKEY_PATH},       {"copykey", COPYKEY_PATH},
        {"opuspipe", OPUSPIPE_PATH},       {"maccheck", MACCHECK_PATH},
    };
    for (const auto& [name, path] : programs) {
        for (const std::string option : {"--version", "--help", "-V", "-h"}) {
            const ScratchDir dir;
            // Audio waiting on an open standard input: a program that read it would not answer.
            Process process({.arguments = {path, option},
                             .environment = {{"STANDIN_LOG", dir.path("log.jsonl")}}});
            process.write(std::string(3200, '\x01'));
            EXPECT_TRUE(
                process.waitForOutput([](const std::string& out) { return !out.empty(); }, 20))
                << name << " " << option;
            const ProcessResult result = process.finish();
            EXPECT_EQ(result.exitStatus, 0) << name << " " << option;
            EXPECT_EQ(result.err, "") << name << " " << option;
            const bool version = option == "--version" || option == "-V";
            EXPECT_EQ(result.out.substr(0, result.out.find_first_of(" \n")),
                      version ? name : "Usage:")
                << name << " " << option;
            if (version) {
                EXPECT_EQ(result.out, std::string(name) + " " + HELPERS_VERSION + "\n");
            }
            EXPECT_FALSE(std::filesystem::exists(dir.path("log.jsonl"))) << name << " " << option;
        }
    }
    // Not alone, they are what they always were: the value of --config-json (also when the
    // program's own name is the option), an unknown option; and a near miss is no answer.
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{KEYWATCH_PATH, "--config-json", "--help"},
          {"--config-json", "--help"}}) {
        const auto watched = runProcess({.arguments = arguments, .program = KEYWATCH_PATH});
        EXPECT_EQ(watched.out.rfind("[hotkey-helper] ready", 0), 0u) << watched.out;
    }
    EXPECT_EQ(runProcess({.arguments = {OPUSPIPE_PATH, "--help", "x"}}).out.substr(0, 4), "OggS");
    EXPECT_EQ(runProcess({.arguments = {OPUSPIPE_PATH, "--vbr"}}).out.substr(0, 4), "OggS");
}

}  // namespace
