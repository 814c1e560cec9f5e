// The simulator's parts that need no sockets: its command line, its text
// helpers, the acquisition state the commands drive, and the record layouts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/sim/raw_client.h"
#include "tests/support/help_options.h"
#include "tools/quorvin-sim/acquisition_model.h"
#include "tools/quorvin-sim/command_text.h"
#include "tools/quorvin-sim/records.h"
#include "tools/quorvin-sim/sim_options.h"

namespace orvanta::sim {
namespace {

using testing::GetLe16;
using testing::GetLe32;
using testing::GetLe64;

ParseResult Parse(const std::vector<std::string>& args) { return ParseOptions(args); }

TEST(SimOptionsTest, DefaultsAreTheServerPortsOnLoopback) {
  const ParseResult r = Parse({});
  ASSERT_EQ(r.status, ParseStatus::kRun);
  EXPECT_EQ(r.options.negotiation_port, 26200);
  EXPECT_EQ(r.options.message_port, 26100);
  EXPECT_EQ(r.options.bind_address, "127.0.0.1");
  EXPECT_TRUE(r.options.negotiation_enabled);
  EXPECT_FALSE(r.options.quiet);
  EXPECT_EQ(r.options.objects.size(), DefaultObjects().size());
  EXPECT_EQ(r.options.no_reply_nth, 0);
}

// The options are one table that makes both the help and the parser: every
// option the help lists is parsed, takes a value exactly when the help names
// one (which is what the bash completion goes by), and refuses what it does
// not take.
TEST(SimOptionsTest, EveryOptionOfTheHelpIsParsedAsTheHelpShowsIt) {
  const std::vector<orvanta::testing::HelpOption> listed =
      orvanta::testing::HelpOptions(HelpText());
  ASSERT_EQ(listed.size(), 31u);
  for (const orvanta::testing::HelpOption& option : listed) {
    SCOPED_TRACE(option.name);
    EXPECT_TRUE(option.alias.empty());
    if (option.takesValue) {
      EXPECT_EQ(Parse({option.name}).error, "option " + option.name + " needs a value");
      continue;
    }
    EXPECT_EQ(Parse({option.name + "=1"}).error, "option " + option.name + " takes no value");
    const ParseResult r = Parse({option.name});
    EXPECT_NE(r.status, ParseStatus::kError) << r.error;
  }
}

TEST(SimOptionsTest, EveryOptionInBothSpellings) {
  const ParseResult r = Parse({"--negotiation-port",
                               "0",
                               "--message-port=0",
                               "--bind",
                               "0.0.0.0",
                               "--transcript",
                               "t.tsv",
                               "--port-file=p.txt",
                               "--quiet",
                               "--app-name",
                               "Rig 2",
                               "--record-rate",
                               "max",
                               "--seed",
                               "7",
                               "--reply-delay",
                               "25",
                               "--no-reply",
                               "3",
                               "--close-after=4",
                               "--bad-version",
                               "5:-1",
                               "--bad-validation",
                               "6",
                               "--absurd-size",
                               "7",
                               "--fault-command",
                               "-PostEvent",
                               "--check-wav-files",
                               "--handout-timeout",
                               "500",
                               "--replace-reply",
                               "8:0 a:b"});
  ASSERT_EQ(r.status, ParseStatus::kRun) << r.error;
  const SimOptions& o = r.options;
  EXPECT_EQ(o.negotiation_port, 0);
  EXPECT_EQ(o.message_port, 0);
  EXPECT_EQ(o.bind_address, "0.0.0.0");
  EXPECT_EQ(o.transcript_path, "t.tsv");
  EXPECT_EQ(o.port_file, "p.txt");
  EXPECT_TRUE(o.quiet);
  EXPECT_EQ(o.application_name, "Rig 2");
  EXPECT_EQ(o.record_rate_hz, 0.0);
  EXPECT_EQ(o.seed, 7u);
  EXPECT_EQ(o.reply_delay_ms, 25);
  EXPECT_EQ(o.no_reply_nth, 3);
  EXPECT_EQ(o.close_after_n, 4);
  EXPECT_EQ(o.bad_version.nth, 5);
  EXPECT_EQ(o.bad_version.value, -1);
  EXPECT_EQ(o.bad_validation_nth, 6);
  EXPECT_EQ(o.absurd_size.nth, 7);
  EXPECT_EQ(o.absurd_size.value, 0x7FFFFFFF);
  EXPECT_EQ(o.fault_command, "-PostEvent");
  EXPECT_TRUE(o.check_wav_files);
  EXPECT_EQ(o.handout_timeout_ms, 500);
  EXPECT_EQ(o.replace_reply_nth, 8);
  EXPECT_EQ(o.replace_reply_text, "0 a:b");
}

TEST(SimOptionsTest, ObjectsReplaceTheDefaultsInOrder) {
  const ParseResult r = Parse({"--object", "A=CscAcqEnt", "--object", "B C=SEScAcqEnt"});
  ASSERT_EQ(r.status, ParseStatus::kRun) << r.error;
  ASSERT_EQ(r.options.objects.size(), 2u);
  EXPECT_EQ(r.options.objects[1].name, "B C");
  EXPECT_EQ(r.options.objects[1].type, "SEScAcqEnt");
}

// Schedules are kept as given, one per option; the objects are checked once
// the object list is complete, so --object may come after them.
TEST(SimOptionsTest, SchedulesOfEmitAndBurst) {
  const ParseResult r = Parse({"--emit", "X Y@500,520,40", "--burst=SE1@500+5x1000", "--object",
                               "X Y=CscAcqEnt", "--object", "SE1=SEScAcqEnt"});
  ASSERT_EQ(r.status, ParseStatus::kRun) << r.error;
  ASSERT_EQ(r.options.schedules.size(), 2u);
  EXPECT_EQ(r.options.schedules[0].object, "X Y");
  EXPECT_EQ(r.options.schedules[0].atMs, (std::vector<int64_t>{500, 520, 40}));
  const ScheduledRecords& burst = r.options.schedules[1];
  EXPECT_EQ(burst.object, "SE1");
  ASSERT_EQ(burst.atMs.size(), 1000u);
  EXPECT_EQ(burst.atMs[1], 505);
  EXPECT_EQ(burst.atMs[999], 500 + 5 * 999);

  EXPECT_EQ(Parse({"--emit", "SE9@500"}).error,
            "invalid value 'SE9@500' for --emit: no object 'SE9' in the simulator's object list: "
            "SE1, SE2, ST1, TT1, CSC1, CSC2, \"CSC Reference\", VT1, \"Digital Events\"");
  EXPECT_EQ(Parse({"--object", "Q=Other", "--burst", "Q@0+1x2"}).error,
            "invalid value 'Q@0+1x2' for --burst: object 'Q' is of type Other, which no data "
            "stream carries");
  for (const char* bad : {"SE1", "@5", "SE1@", "SE1@5,", "SE1@-5", "SE1@+5", "SE1@3600001"}) {
    EXPECT_EQ(Parse({"--emit", bad}).error, std::string("invalid value '") + bad +
                                                "' for --emit: expected OBJECT@MS[,MS...], MS "
                                                "from 0 to 3600000")
        << bad;
  }
  for (const char* bad : {"SE1@500+5", "SE1@500x5", "SE1@5+5x0", "SE1@5+5x1000001", "SE1@x+5x2"}) {
    EXPECT_NE(Parse({"--burst", bad}).error.find("expected OBJECT@FIRST+GAPxCOUNT"),
              std::string::npos)
        << bad;
  }
}

TEST(SimOptionsTest, BadCommandLinesGiveOneLineReasons) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"--message-port"}, "option --message-port needs a value"},
      {{"--message-port", "70000"}, "invalid value '70000' for --message-port"},
      {{"--negotiation-port", "x"}, "invalid value 'x' for --negotiation-port"},
      {{"--bind", "localhost"}, "invalid value 'localhost' for --bind"},
      {{"--record-rate", "0"}, "invalid value '0' for --record-rate"},
      {{"--no-reply", "0"}, "invalid value '0' for --no-reply"},
      {{"--bad-version", "2:1"}, "version 1 is the valid one"},
      {{"--absurd-size", "2:x"}, "invalid value '2:x' for --absurd-size"},
      {{"--object", "A"}, "expected NAME=TYPE"},
      {{"--replace-reply", "-1"}, "expected N:TEXT"},
      {{"--object", "\"A\"=CscAcqEnt"}, "invalid value"},
      {{"--object", "A=X", "--object", "A=Y"}, "given twice"},
      {{"--quiet=yes"}, "option --quiet takes no value"},
      {{"stray"}, "unexpected argument 'stray'"},
      {{"--negotiation-port", "5000", "--message-port", "5000"}, "must differ"},
  };
  for (const auto& [args, expected] : cases) {
    const ParseResult r = Parse(args);
    EXPECT_EQ(r.status, ParseStatus::kError) << args[0];
    EXPECT_NE(r.error.find(expected), std::string::npos) << r.error;
    EXPECT_EQ(r.error.find('\n'), std::string::npos) << r.error;
  }
}

TEST(SimOptionsTest, HelpWinsAndDocumentsEveryOption) {
  EXPECT_EQ(Parse({"--quiet", "--help", "--bogus"}).status, ParseStatus::kHelp);
  const std::string help = HelpText();
  for (const char* name : {"--negotiation-port",
                           "--message-port",
                           "--no-negotiation",
                           "--bind",
                           "--port-file",
                           "--transcript",
                           "--quiet",
                           "--app-name",
                           "--object",
                           "--record-rate",
                           "--emit",
                           "--burst",
                           "--check-wav-files",
                           "--seed",
                           "--handout-timeout",
                           "--fault-command",
                           "--reply-delay",
                           "--no-reply",
                           "--close-after",
                           "--bad-version",
                           "--bad-validation",
                           "--absurd-size",
                           "--replace-reply",
                           "--help",
                           "quorvin-sim listening negotiation=PORT message=PORT",
                           "time_us  reply_us  conn  kind"}) {
    EXPECT_NE(help.find(name), std::string::npos) << name;
  }
}

TEST(CommandTextTest, TrailingWordsAndNames) {
  std::string_view head;
  std::vector<std::string> tail;
  ASSERT_TRUE(SplitTrailing("\"a \"b\" c\" 5 0", 2, &head, &tail));
  EXPECT_EQ(head, "\"a \"b\" c\"");
  EXPECT_EQ(tail, (std::vector<std::string>{"5", "0"}));
  EXPECT_EQ(Unquote(head), "a \"b\" c");
  ASSERT_TRUE(SplitTrailing("CSC Reference  CscAcqEnt", 1, &head, &tail));
  EXPECT_EQ(head, "CSC Reference");
  EXPECT_FALSE(SplitTrailing("5", 2, &head, &tail));
  EXPECT_EQ(Unquote("\"\""), "");
  EXPECT_EQ(QuoteToken("a b"), "\"a b\"");
  EXPECT_EQ(QuoteToken(""), "\"\"");
  EXPECT_EQ(QuoteToken("ab"), "ab");
  EXPECT_EQ(EscapeField("a\tb\\c\r\n\x01"), "a\\tb\\\\c\\r\\n\\x01");
  EXPECT_EQ(ParseInt32("-32768"), -32768);
  EXPECT_FALSE(ParseInt32("3x"));
  EXPECT_FALSE(ParseInt32("99999999999"));
}

class ModelTest : public ::testing::Test {
 protected:
  Reply Do(const std::string& command, uint64_t now_us = 1000) {
    std::string_view word, rest;
    SplitCommandWord(command, &word, &rest);
    auto reply = model_.Handle(word, rest, now_us);
    EXPECT_TRUE(reply.has_value()) << command;
    return reply.value_or(Reply{});
  }
  std::string Text(const std::string& command, uint64_t now_us = 1000) {
    return Do(command, now_us).text;
  }

  SimOptions options_;
  AcquisitionModel model_{options_};
};

TEST_F(ModelTest, ListsQuoteNamesWithBlanks) {
  EXPECT_EQ(Text("-RequestQuorvinObjects"),
            "0 SE1 SE2 ST1 TT1 CSC1 CSC2 \"CSC Reference\" VT1 \"Digital Events\"");
  EXPECT_EQ(Text("-RequestQuorvinTypes"),
            "0 SEScAcqEnt SEScAcqEnt STScAcqEnt TTScAcqEnt CscAcqEnt CscAcqEnt CscAcqEnt VTAcqEnt "
            "EventAcqEnt");
  EXPECT_EQ(Text("-GetApplicationName"), "0 Quorvin Simulator");
}

TEST_F(ModelTest, RecordIndexFollowsEachStreamsList) {
  // The spike streams share one list of every spike object.
  EXPECT_EQ(model_.RecordIndex("SE1"), 0);
  EXPECT_EQ(model_.RecordIndex("SE2"), 1);
  EXPECT_EQ(model_.RecordIndex("ST1"), 2);
  EXPECT_EQ(model_.RecordIndex("TT1"), 3);
  EXPECT_EQ(model_.RecordIndex("CSC1"), 0);
  EXPECT_EQ(model_.RecordIndex("CSC Reference"), 2);
  EXPECT_EQ(model_.RecordIndex("VT1"), 0);
  EXPECT_EQ(model_.RecordIndex("Digital Events"), -1);
  EXPECT_EQ(model_.RecordIndex("nothing"), -1);
}

TEST_F(ModelTest, TypedRequestsAnswerStatusFirst) {
  EXPECT_EQ(Text("-RequestRingBufferSize CSC Reference"), "0 512 1044");
  EXPECT_EQ(Text("-RequestSamplingFrequency CSC1"), "0 32000");
  EXPECT_EQ(Text("-RequestSamplingFrequency VT1"), "0 30");
  EXPECT_EQ(Text("-RequestADRange CSC2"), "0 -1000 1000");
  EXPECT_EQ(Text("-RequestADRange TT1"), "0 -500 500");
  EXPECT_EQ(Text("-RequestADRange Digital Events"), "-1 Object has no A/D range: Digital Events");
  EXPECT_EQ(Text("-RequestSamplingFrequency Nope"), "-1 Unknown object: Nope");
  EXPECT_EQ(Text("-RequestFeature TT1 0"), "0 Peak");
  EXPECT_EQ(Text("-RequestFeature SE1 6"), "0 Valley Time");
  EXPECT_EQ(Text("-RequestFeature SE1 8"), "-1 Feature index out of range: 8");
  EXPECT_EQ(Text("-RequestFeature CSC1 0"), "-1 Object has no features: CSC1");
  EXPECT_EQ(Text("-LogMessage note with blanks 3"), "0");
  EXPECT_EQ(Do("-LogMessage note with blanks 3").note, "logged \"note with blanks\" level 3");
  EXPECT_EQ(Text("-LogMessage 3x"), "-1 Usage: -LogMessage MESSAGE LEVEL");
  EXPECT_FALSE(model_.Handle("-NotACommand", "", 0).has_value());
}

TEST_F(ModelTest, RingBufferRepliesAreWholeRecordsOfTheObject) {
  const Reply csc = Do("-RequestRingBuffer CSC2", 500000);
  ASSERT_TRUE(csc.binary);
  ASSERT_EQ(csc.bytes.size(), 4u * 1044);
  for (size_t r = 0; r < 4; ++r) EXPECT_EQ(GetLe32(csc.bytes, r * 1044 + 8), 1u);
  EXPECT_EQ(GetLe64(csc.bytes, 3 * 1044), 500000u);  // the newest record last

  EXPECT_EQ(Text("-RequestRingBuffer Digital Events"), "-1 Ring buffer is empty: Digital Events");
  Do("-PostEvent \"e1\" 1 0");
  const Reply ev = Do("-RequestRingBuffer Digital Events");
  ASSERT_TRUE(ev.binary);
  ASSERT_EQ(ev.bytes.size(), 184u);
  EXPECT_EQ(ev.bytes.substr(56, 3), std::string("e1\0", 3));
}

TEST_F(ModelTest, PulseCommandsDriveThePort) {
  EXPECT_FALSE(model_.DioPort("DigitalIO", 0).has_value());
  EXPECT_EQ(Text("-SetDigitalIOPortDirection \"DigitalIO\" 0 Output"), "0");
  EXPECT_EQ(Text("-SetDIOPortOutput \"DigitalIO\" 0 8", 2000), "0");
  auto port = model_.DioPort("DigitalIO", 0);
  ASSERT_TRUE(port);
  EXPECT_TRUE(port->output);
  EXPECT_EQ(port->value, 8);
  EXPECT_EQ(port->changed_us, 2000u);
  EXPECT_EQ(Do("-SetDIOPortOutput \"DigitalIO\" 0 -32768").note,
            "dio \"DigitalIO\" 0 value 0x8000 (-32768) direction Output");
  EXPECT_EQ(model_.DioPort("DigitalIO", 0)->value, 0x8000);
  EXPECT_EQ(Text("-SetDIOPortOutput \"DigitalIO\" 0 0"), "0");
  EXPECT_EQ(model_.DioPort("DigitalIO", 0)->value, 0);
  EXPECT_EQ(model_.DioPort("DigitalIO", 0)->changes, 3);

  // Ports are kept per subsystem and board; an input port still takes the
  // value but the note warns.
  EXPECT_NE(Do("-SetDIOPortOutput \"Other Board\" 1 4")
                .note.find("warning: the port is not set to Output"),
            std::string::npos);
  EXPECT_EQ(model_.DioPort("Other Board", 1)->value, 4);
  EXPECT_EQ(model_.DioPort("DigitalIO", 0)->value, 0);

  EXPECT_EQ(Text("-SetDIOPortOutput \"DigitalIO\" 0 65536"), "-1 Port value out of range: 65536");
  EXPECT_EQ(Text("-SetDigitalIOPortDirection \"DigitalIO\" 0 Sideways"),
            "-1 Invalid port direction: Sideways");
  EXPECT_EQ(Text("-SetDIOPortOutput \"DigitalIO\" -1 1"), "-1 Invalid board number: -1");
}

TEST_F(ModelTest, PostedEventsAreKeptInOrderAndHeardByTheListener) {
  std::vector<std::string> heard;
  model_.SetEventListener([&heard](const PostedEvent& e) { heard.push_back(e.text); });
  EXPECT_EQ(Text("-PostEvent \"Start of trial\" 5 0", 10), "0");
  EXPECT_EQ(Text("-PostEvent \"\" -3 0", 20), "0");
  const auto events = model_.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].number, 1);
  EXPECT_EQ(events[0].text, "Start of trial");
  EXPECT_EQ(events[0].ttl, 5);
  EXPECT_EQ(events[1].text, "");
  EXPECT_EQ(events[1].ttl, -3);
  EXPECT_EQ(events[1].time_us, 20u);
  EXPECT_EQ(heard, (std::vector<std::string>{"Start of trial", ""}));
  EXPECT_EQ(Text("-PostEvent \"x\" y 0"), "-1 Usage: -PostEvent \"EVENT STRING\" TTL 0");
}

TEST_F(ModelTest, WavPlaybackFollowsTheFourCommands) {
  EXPECT_EQ(Text("-PlayDAWavFile \"AO\" 0"), "-1 No wav buffer selected on \"AO\" 0");
  EXPECT_EQ(Text("-SelectDAWavBuffer  \"AO\" 0 2"),
            "-1 No wav file loaded in buffer 2 of \"AO\" 0");
  EXPECT_EQ(Text("-SetDAOutputMode  \"AO\" 0 BufferedOutput"), "0");
  EXPECT_EQ(Text("-SetDAWavFile \"AO\" 0 \"C:\\sounds\\tone 1.wav\" 2"), "0");
  EXPECT_EQ(Text("-SelectDAWavBuffer  \"AO\" 0 2"), "0");
  EXPECT_EQ(Do("-PlayDAWavFile \"AO\" 0", 777).note,
            "da \"AO\" 0 playing buffer 2 \"C:\\sounds\\tone 1.wav\" (play 1)");
  auto da = model_.DaBoard("AO", 0);
  ASSERT_TRUE(da);
  EXPECT_EQ(da->output_mode, "BufferedOutput");
  EXPECT_EQ(da->buffers.at(2), "C:\\sounds\\tone 1.wav");
  EXPECT_EQ(da->selected_buffer, 2);
  EXPECT_EQ(da->plays, 1);
  EXPECT_EQ(da->last_played_us, 777u);

  EXPECT_EQ(Text("-SetDAOutputMode  \"AO\" 0 SingleValue"), "0");
  EXPECT_EQ(Text("-PlayDAWavFile \"AO\" 0"), "-1 Output mode of \"AO\" 0 is not BufferedOutput");
  EXPECT_EQ(Text("-SetDAWavFile \"AO\" 0 \"\" 1"), "-1 No wav file name given");
}

TEST(ModelWavCheckTest, CheckedWavFilesMustBeReadable) {
  SimOptions options;
  options.check_wav_files = true;
  AcquisitionModel model(options);
  const auto reply = model.Handle("-SetDAWavFile", "\"AO\" 0 \"/no/such/file.wav\" 1", 0);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->text, "-1 Unable to open wav file: /no/such/file.wav");
  EXPECT_FALSE(model.DaBoard("AO", 0).has_value());
}

TEST(RecordsTest, SizesAndObjectFields) {
  RecordFactory f(3);
  const struct {
    StreamKind kind;
    size_t size;
    const char* type;
  } kinds[] = {{StreamKind::kSE, 112, "SEScAcqEnt"}, {StreamKind::kST, 176, "STScAcqEnt"},
               {StreamKind::kTT, 304, "TTScAcqEnt"}, {StreamKind::kCSC, 1044, "CscAcqEnt"},
               {StreamKind::kVT, 1828, "VTAcqEnt"},  {StreamKind::kEV, 184, "EventAcqEnt"}};
  for (const auto& k : kinds) {
    EXPECT_EQ(RecordSize(k.kind), k.size);
    EXPECT_EQ(StreamKindForType(k.type), k.kind);
  }
  EXPECT_FALSE(StreamKindForType("cscacqent").has_value());

  std::string out;
  f.AppendSpike(StreamKind::kTT, 5, 123456789012ull, &out);
  ASSERT_EQ(out.size(), 304u);
  EXPECT_EQ(GetLe64(out, 0), 123456789012ull);
  EXPECT_EQ(GetLe32(out, 8), 5u);
  EXPECT_LT(static_cast<int32_t>(GetLe32(out, 16 + 4)), 0);  // the valley feature

  out.clear();
  f.AppendCsc(-1, 42, &out);
  ASSERT_EQ(out.size(), 1044u);
  EXPECT_EQ(static_cast<int32_t>(GetLe32(out, 8)), -1);
  EXPECT_EQ(GetLe32(out, 12), 32000u);
  EXPECT_EQ(GetLe32(out, 16), 512u);

  out.clear();
  f.AppendVideo(0xBEEF, 99, &out);
  ASSERT_EQ(out.size(), 1828u);
  EXPECT_EQ(GetLe16(out, 0), 0x5654);
  EXPECT_EQ(GetLe16(out, 2), 0xBEEF);
  EXPECT_EQ(GetLe64(out, 8), 99u);

  out.clear();
  f.AppendEvent(7, 3, -2, 1, std::string(200, 'x'), &out);
  ASSERT_EQ(out.size(), 184u);
  EXPECT_EQ(GetLe32(out, 8), 3u);
  EXPECT_EQ(static_cast<int32_t>(GetLe32(out, 12)), -2);
  EXPECT_EQ(GetLe32(out, 16), 1u);
  EXPECT_EQ(out.substr(56, 127), std::string(127, 'x'));
  EXPECT_EQ(out[183], '\0');  // the string always ends inside the record
}

TEST(RecordsTest, CscSamplesFollowASine) {
  RecordFactory f(1);
  std::string out;
  f.AppendCsc(0, 0, &out);
  // Channel 0 carries 6 Hz: a quarter period (41.7 ms) is past the record's
  // 16 ms, so the samples rise from about 0 with noise well below the swing.
  const auto sample = [&out](int i) { return static_cast<int16_t>(GetLe16(out, 20 + 2 * i)); };
  EXPECT_LT(std::abs(sample(0)), 800);
  EXPECT_GT(sample(511), sample(0) + 300);
}

}  // namespace
}  // namespace orvanta::sim
