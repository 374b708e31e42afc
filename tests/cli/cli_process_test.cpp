// tqbse and the example host program run as subprocesses against the
// reference emulator on 127.0.0.20.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "support/fake_server.h"

namespace {

using namespace tqbse;

constexpr const char* kAddress = "127.0.0.20";
constexpr int kTimeoutMs = 30000;

struct ProcessRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

ProcessRun runProgram(const char* program, const QStringList& args, int timeoutMs = kTimeoutMs)
{
    QProcess p;
    p.start(QString::fromUtf8(program), args);
    ProcessRun r;
    if (!p.waitForStarted(5000))
        return r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
        r.err = "timed out";
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

ProcessRun tqbse(QStringList args)
{
    args.prepend(QString::fromLatin1(kAddress));
    args.prepend("--server");
    return runProgram(TQBSE_TOOL, args);
}

// True when something listens on 127.0.0.20:6002.
bool listening()
{
    std::ifstream in("/proc/net/tcp");
    std::string line;
    for (int n = 0; n < 100000 && std::getline(in, line); ++n)
        if (line.find(" 1400007F:1772 ") != std::string::npos && line.find(" 0A ") != std::string::npos)
            return true;
    return false;
}

class CliAgainstEmulator : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_FALSE(listening()) << "127.0.0.20:6002 is taken by another program";
        emulator_ = new QProcess;
        emulator_->setProcessChannelMode(QProcess::ForwardedChannels);
        emulator_->start(QString::fromUtf8(TQBSE_EMULATOR),
                         {"--bind", kAddress, "--port", "6002", "--trace-length", "64", "--scenario-ms", "300"});
        ASSERT_TRUE(emulator_->waitForStarted(5000));
        for (int i = 0; i < 100 && !listening(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_TRUE(listening()) << "the emulator did not start listening";
    }
    static void TearDownTestSuite()
    {
        if (!emulator_)
            return;
        emulator_->terminate();
        if (!emulator_->waitForFinished(5000)) {
            emulator_->kill();
            emulator_->waitForFinished(5000);
        }
        delete emulator_;
        emulator_ = nullptr;
    }
    static QProcess* emulator_;
};
QProcess* CliAgainstEmulator::emulator_ = nullptr;

QJsonObject parseJson(const QByteArray& text)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << text.toStdString();
    return doc.object();
}

TEST_F(CliAgainstEmulator, SettersAndGettersRoundTrip)
{
    struct Case {
        const char* set;
        const char* get;
        const char* value;
        const char* printed;
    } cases[] = {
        {"RX_CentreFrequency_Set", "RX_CentreFrequency_Get", "1.8e9", "frequency = 1800000000\n"},
        {"TX_CentreFrequency_Set", "TX_CentreFrequency_Get", "2110000000.5", "frequency = 2110000000.5\n"},
        {"RX_InputLevel_Set", "RX_InputLevel_Get", "-42.25", "level = -42.25\n"},
        {"TX_ReferenceLevel_Set", "TX_ReferenceLevel_Get", "-7.5", "level = -7.5\n"},
    };
    for (const Case& c : cases) {
        const ProcessRun set = tqbse({c.set, "0", c.value});
        EXPECT_EQ(set.exitCode, 0) << c.set << set.err.toStdString();
        EXPECT_EQ(set.out, "OK\n");
        const ProcessRun get = tqbse({c.get, "0"});
        EXPECT_EQ(get.exitCode, 0) << c.get << get.err.toStdString();
        EXPECT_EQ(get.out.toStdString(), c.printed);
    }
    // A flag set by word travels as the library's own true, -1.
    EXPECT_EQ(tqbse({"LoggingState_Set", "on"}).exitCode, 0);
    EXPECT_EQ(tqbse({"LoggingState_Get"}).out, "state = -1\n");
}

TEST_F(CliAgainstEmulator, DownloadIsSizedFromItsQueryAndMatchesTheUpload)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Larger than one receive chunk, with balanced parentheses and a line end.
    QByteArray content = "<scenario>\n";
    for (int i = 0; i < 400; ++i)
        content += "  <step n=\"" + QByteArray::number(i) + "\">attach (cell 1)</step>\n";
    content += "</scenario>\n";
    QFile file(dir.filePath("in.xml"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();

    const ProcessRun up = tqbse({"--file", file.fileName(), "Scenario_Upload", "cli_big"});
    ASSERT_EQ(up.exitCode, 0) << up.err.toStdString();
    const ProcessRun size = tqbse({"Scenario_DownloadSize_Get", "cli_big"});
    EXPECT_EQ(size.exitCode, 0);
    const ProcessRun down = tqbse({"Scenario_Download", "cli_big"});
    ASSERT_EQ(down.exitCode, 0) << down.err.toStdString();
    EXPECT_EQ(down.out, content);

    const QString saved = dir.filePath("out.xml");
    const ProcessRun toFile = tqbse({"Scenario_Download", "cli_big", "--out", saved});
    ASSERT_EQ(toFile.exitCode, 0);
    QFile back(saved);
    ASSERT_TRUE(back.open(QIODevice::ReadOnly));
    EXPECT_EQ(back.readAll(), content);
}

TEST_F(CliAgainstEmulator, TraceAsCsvHasOnePairPerPoint)
{
    ASSERT_EQ(tqbse({"Protocol_MeasurementEnabled_Set", "0", "1"}).exitCode, 0);
    const QJsonObject handleJson = parseJson(tqbse({"--json", "Protocol_Results_GetHandle"}).out);
    ASSERT_EQ(handleJson["result"].toInt(-99), 0);
    const QString handle = QString::number(handleJson["outputs"].toObject()["handle"].toInt());

    const ProcessRun length = tqbse({"Protocol_Results_GetTraceLength", handle, "1"});
    ASSERT_EQ(length.out, "length = 64\n");
    const ProcessRun csv = tqbse({"--csv", "Protocol_Results_GetTrace", handle, "1"});
    ASSERT_EQ(csv.exitCode, 0) << csv.err.toStdString();
    const QList<QByteArray> lines = csv.out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 64);
    double previousX = -1e300;
    for (const QByteArray& line : lines) {
        const QList<QByteArray> xy = line.split(',');
        ASSERT_EQ(xy.size(), 2) << line.toStdString();
        bool okX = false, okY = false;
        const double x = xy[0].toDouble(&okX);
        xy[1].toDouble(&okY);
        EXPECT_TRUE(okX && okY) << line.toStdString();
        EXPECT_GT(x, previousX);
        previousX = x;
    }

    // The same points as JSON, parsed back.
    const QJsonObject trace = parseJson(tqbse({"--json", "Protocol_Results_GetTrace", handle, "1"}).out);
    const QJsonArray xs = trace["outputs"].toObject()["xValues"].toArray();
    const QJsonArray ys = trace["outputs"].toObject()["yValues"].toArray();
    ASSERT_EQ(xs.size(), 64);
    ASSERT_EQ(ys.size(), 64);
    EXPECT_EQ(QByteArray::number(ys[5].toDouble(), 'g', 17).toDouble(), lines[5].split(',')[1].toDouble());
    EXPECT_EQ(tqbse({"Results_DeleteHandle", handle}).exitCode, 0);
}

TEST_F(CliAgainstEmulator, JsonOutputParsesBack)
{
    ASSERT_EQ(tqbse({"RX_CentreFrequency_Set", "1", "900e6"}).exitCode, 0);
    const QJsonObject get = parseJson(tqbse({"--json", "RX_CentreFrequency_Get", "1"}).out);
    EXPECT_EQ(get["call"].toString(), "RX_CentreFrequency_Get");
    EXPECT_EQ(get["result"].toInt(-99), 0);
    EXPECT_EQ(get["outputs"].toObject()["frequency"].toDouble(), 900e6);

    const QJsonObject version = parseJson(tqbse({"--json", "GetServerVersion"}).out);
    EXPECT_EQ(version["outputs"].toObject()["version"].toArray(), (QJsonArray{6, 0, 0, 0}));

    const QJsonObject name = parseJson(tqbse({"--json", "TestCase_Name_Get", "0"}).out);
    EXPECT_FALSE(name["outputs"].toObject()["buffer"].toString().isEmpty());

    const QJsonDocument list = QJsonDocument::fromJson(runProgram(TQBSE_TOOL, {"--json", "list"}).out);
    ASSERT_TRUE(list.isArray());
    EXPECT_EQ(list.array().size(), 75);
    const QJsonObject upload = list.array()[0].toObject();
    EXPECT_EQ(upload["call"].toString(), "Initialise");
    EXPECT_EQ(upload["args"].toArray().size(), 4);

    const QJsonObject info = parseJson(tqbse({"--json", "info"}).out);
    EXPECT_TRUE(info["connected"].toBool());
    EXPECT_EQ(info["serverVersion"].toString(), "6.0.0.0");
    EXPECT_EQ(info["roundTrips"].toInt(), 20);
    EXPECT_GE(info["medianRoundTripMs"].toDouble(-1), 0.0);
}

TEST_F(CliAgainstEmulator, NegativeServerCodeExitsNonZeroWithItsText)
{
    const ProcessRun r = tqbse({"Results_DeleteHandle", "987654"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    EXPECT_TRUE(r.err.contains("Results_DeleteHandle failed: -18 Remote Message Error - Internal Object Error!"))
        << r.err.toStdString();

    const QJsonObject json = parseJson(tqbse({"--json", "Scenario_Download", "no_such_scenario"}).out);
    EXPECT_EQ(json["result"].toInt(), -18);
    EXPECT_EQ(json["message"].toString(), "Remote Message Error - Internal Object Error!");
}

TEST_F(CliAgainstEmulator, ExampleHostProgramPasses)
{
    const ProcessRun r = runProgram(TQBSE_EXAMPLE, {kAddress}, 120000);
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("RESULT: PASSED")) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains("[FAIL]"));
}

// Bad input is refused with exit 2 before any connection is attempted.
TEST(CliBadInput, RefusedWithoutContactingTheServer)
{
    ASSERT_FALSE(listening()) << "127.0.0.20:6002 is taken by another program";
    test::FakeServer sentinel(kAddress);
    ASSERT_TRUE(sentinel.isListening());
    struct Case {
        QStringList args;
        const char* message;
    } cases[] = {
        {{"RX_CentreFrequency_Gett", "0"}, "unknown call 'RX_CentreFrequency_Gett'"},
        {{"rx_centrefrequency_get", "0"}, "did you mean RX_CentreFrequency_Get?"},
        {{"RX_CentreFrequency_Set", "0"}, "expected: RX_CentreFrequency_Set index:int frequency:double"},
        {{"RX_CentreFrequency_Set", "0", "1e9", "5"}, "takes 2 arguments, got 3"},
        {{"RX_CentreFrequency_Set", "zero", "1e9"}, "argument index 'zero' is not a valid int"},
        {{"RX_InputLevel_Set", "0", "-5dBm"}, "argument level '-5dBm' is not a valid float"},
        {{"LoggingState_Set", "maybe"}, "argument state 'maybe' is not a valid flag"},
        {{"Scenario_Download"}, "expected: Scenario_Download name:text"},
        {{"--file", "/etc/hostname", "TestCase_Run", "0"}, "TestCase_Run takes no --file"},
        {{"--nonsense", "TestCase_Run", "0"}, "unknown option --nonsense"},
    };
    for (const Case& c : cases) {
        const ProcessRun r = tqbse(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.toStdString();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(sentinel.connections(), 0);
}

TEST(CliBadInput, UnreachableServerExplainsAndDoesNotHang)
{
    ASSERT_FALSE(listening()) << "127.0.0.20:6002 is taken by another program";
    const ProcessRun r = tqbse({"RX_CentreFrequency_Get", "0"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(r.err.contains("-14 Remote Message Error - No Response recieved from server")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("check the server address")) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
}

} // namespace
