// The JSON Lines writer: texts as text or base64, and the records of a run.
#include <gtest/gtest.h>

#include "json_writer.h"
#include "test_util.h"

namespace {

std::string Json(std::string_view text) {
    std::string out;
    AppendJsonText(out, text);
    return out;
}

TEST(JsonText, ValidUtf8IsTextWithEscapes) {
    EXPECT_EQ(Json(""), "{\"text\":\"\"}");
    EXPECT_EQ(Json("A \"B\" \\ C"), "{\"text\":\"A \\\"B\\\" \\\\ C\"}");
    EXPECT_EQ(Json("\t\x01\x1F\x7F"), "{\"text\":\"\\t\\u0001\\u001f\\u007f\"}");
    EXPECT_EQ(Json("Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80"),
              "{\"text\":\"Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80\"}");
}

TEST(JsonText, AnythingElseIsBase64) {
    EXPECT_EQ(Json("\xFF"), "{\"bytes\":\"/w==\"}");
    EXPECT_EQ(Json("CUSTNO\xE9"), "{\"bytes\":\"Q1VTVE5P6Q==\"}");  // a Latin-1 letter
    EXPECT_EQ(Json("AB\xE9"), "{\"bytes\":\"QULp\"}");
    // Overlong forms, an encoded surrogate, beyond U+10FFFF, cut short, a
    // stray continuation byte.
    for (std::string bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82",
                            "\x80", "\xF8\x88\x80\x80\x80"})
        EXPECT_EQ(Json(bad).rfind("{\"bytes\":\"", 0), 0u) << bad;
}

TEST(JsonRecords, BeginMatchAndEndOfARun) {
    testutil::TempDir dir;
    std::string path = dir / "export.xml";
    testutil::WriteFile(path, testutil::CrLf({"<TABLE XMLNS:USOURCE>", "<OCC>",
                                              "<USOURCE:ULABEL>calc</USOURCE:ULABEL>",
                                              "<USOURCE:USUB>proc</USOURCE:USUB>", "<USOURCE:USOURCE>",
                                              "x = custno + y\r", "</USOURCE:USOURCE>", "</OCC>", "</TABLE>"}));
    std::FILE* out = std::tmpfile();
    JsonWriter json(out);
    RunInputs in;
    in.strings = std::vector<std::string>{"Y", "CUSTNO", "NONE"};
    in.srchfilename = path;
    in.logfilename = dir / "log.txt";
    in.sink = &json;
    testutil::RecordingDisplay display;
    const RunResult r = Quelvar(display, in);
    EXPECT_EQ(r.outcome, RunOutcome::Completed);
    EXPECT_FALSE(json.failed);
    std::string text(static_cast<std::size_t>(std::ftell(out)), '\0');
    std::rewind(out);
    ASSERT_EQ(std::fread(text.data(), 1, text.size(), out), text.size());
    std::fclose(out);
    std::string escaped;  // Windows paths hold backslashes
    for (char c : path) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    EXPECT_EQ(text,
              "{\"type\":\"begin\",\"data\":{\"export\":{\"text\":\"" + escaped +
                  "\"},\"strings\":[{\"text\":\"Y\"},{\"text\":\"CUSTNO\"},{\"text\":\"NONE\"}]}}\n"
                  "{\"type\":\"match\",\"data\":{\"export_line\":6,\"byte_offset\":123,"
                  "\"element\":{\"text\":\"USOURCE\"},\"element_line\":1,"
                  "\"context\":{\"entry\":{\"text\":\"calc\"},\"sourcetype\":{\"text\":\"proc\"}},"
                  "\"data\":{\"text\":\"x = custno + y\"},\"strings\":[{\"text\":\"Y\"},{\"text\":\"CUSTNO\"}]}}\n"
                  "{\"type\":\"end\",\"data\":{\"outcome\":\"completed\",\"lines\":9,\"counts\":["
                  "{\"string\":{\"text\":\"Y\"},\"count\":1},{\"string\":{\"text\":\"CUSTNO\"},\"count\":1},"
                  "{\"string\":{\"text\":\"NONE\"},\"count\":0}]}}\n");
}

TEST(JsonRecords, OutcomeNames) {
    RunResult r;
    r.log_complete = true;
    EXPECT_EQ(OutcomeName(r), "completed");
    r.log_complete = false;
    EXPECT_EQ(OutcomeName(r), "log_incomplete");
    r.outcome = RunOutcome::ReadError;
    EXPECT_EQ(OutcomeName(r), "read_error");
    r.outcome = RunOutcome::ExportNotOpened;
    EXPECT_EQ(OutcomeName(r), "export_not_opened");
    r.outcome = RunOutcome::OutOfMemory;
    EXPECT_EQ(OutcomeName(r), "out_of_memory");
    r.outcome = RunOutcome::LogNotOpened;
    EXPECT_EQ(OutcomeName(r), "log_incomplete");
}

}  // namespace
