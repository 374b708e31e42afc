// The emulator's in-memory instrument and its configuration.
#include "emulator/model.h"

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QString>

#include <cmath>
#include <numbers>

namespace tqbse::emu {

Config defaultConfig()
{
    Config c;
    c.paths = {Path{1.95e9, -60.0f, 2.14e9, -30.0f, false}, Path{1.75e9, -65.0f, 1.845e9, -25.0f, false}};
    c.testCases = {
        {"Attach", "Registration"},
        {"Detach", "Registration"},
        {"Handover_Intra", "Mobility"},
        {"Handover_Inter", "Mobility"},
        {"Paging", "Idle"},
    };
    c.scenarios = {
        {"Idle_Camping", "<scenario name=\"Idle_Camping\"><step action=\"camp\" cell=\"1\"/></scenario>"},
        {"Call_Setup", "<scenario name=\"Call_Setup\"><step action=\"attach\"/><step action=\"call\"/></scenario>"},
    };
    c.debugFilters = {{"RRC", 0, {}}, {"NAS", 0, {}}, {"MAC", 1, {}}, {"PHY", 0, {}}};
    c.protocolMessageXml = {
        {"rrc_connection_setup.xml", "<message name=\"RRCConnectionSetup\"><ie name=\"transactionId\">0</ie></message>"},
        {"attach_accept.xml", "<message name=\"AttachAccept\"><ie name=\"t3412\">54</ie></message>"},
    };
    c.systemParamFiles = {"default_cell.par", "two_cells.par", "high_load.par"};
    return c;
}

namespace {

std::string bytes(const QJsonValue& v) { return v.toString().toLatin1().toStdString(); }

bool readNamedTexts(const QJsonValue& v, std::vector<NamedText>* out)
{
    if (!v.isArray())
        return false;
    out->clear();
    for (const QJsonValue& e : v.toArray()) {
        const QJsonObject o = e.toObject();
        out->push_back({bytes(o["name"]), bytes(o["content"])});
    }
    return true;
}

void readFloat(const QJsonObject& o, const char* key, float* out)
{
    if (o.contains(key))
        *out = float(o[key].toDouble());
}

} // namespace

bool applyConfigJson(std::string_view json, Config* c, std::string* error)
{
    QJsonParseError parseError;
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray(json.data(), qsizetype(json.size())), &parseError);
    if (doc.isNull() || !doc.isObject()) {
        *error = doc.isNull() ? parseError.errorString().toStdString() : "the document is not an object";
        return false;
    }
    const QJsonObject root = doc.object();
    if (root.contains("version")) {
        const QJsonArray v = root["version"].toArray();
        if (v.size() != 4) {
            *error = "\"version\" needs four numbers";
            return false;
        }
        for (int i = 0; i < 4; ++i)
            c->version[std::size_t(i)] = v[i].toInt();
    }
    if (root.contains("paths")) {
        c->paths.clear();
        for (const QJsonValue& e : root["paths"].toArray()) {
            const QJsonObject o = e.toObject();
            Path p;
            p.rxFrequency = o["rxFrequency"].toDouble(p.rxFrequency);
            p.rxLevel = float(o["rxLevel"].toDouble(p.rxLevel));
            p.txFrequency = o["txFrequency"].toDouble(p.txFrequency);
            p.txReferenceLevel = float(o["txReferenceLevel"].toDouble(p.txReferenceLevel));
            p.adcOverloaded = o["adcOverloaded"].toBool(false);
            c->paths.push_back(p);
        }
    }
    readFloat(root, "adcOverloadLevel", &c->adcOverloadLevel);
    if (root.contains("traceLength"))
        c->traceLength = root["traceLength"].toInt();
    if (c->traceLength < 0 || c->traceLength > kMaxTraceLength) {
        *error = "\"traceLength\" must lie between 0 and " + std::to_string(kMaxTraceLength);
        return false;
    }
    c->scenarioRunMs = root["scenarioRunMs"].toInt(c->scenarioRunMs);
    if (root.contains("testCases")) {
        c->testCases.clear();
        for (const QJsonValue& e : root["testCases"].toArray()) {
            const QJsonObject o = e.toObject();
            c->testCases.push_back({bytes(o["name"]), bytes(o["group"])});
        }
    }
    if (root.contains("scenarios"))
        readNamedTexts(root["scenarios"], &c->scenarios);
    if (root.contains("protocolMessageXml"))
        readNamedTexts(root["protocolMessageXml"], &c->protocolMessageXml);
    if (root.contains("debugFilters")) {
        c->debugFilters.clear();
        for (const QJsonValue& e : root["debugFilters"].toArray()) {
            const QJsonObject o = e.toObject();
            c->debugFilters.push_back({bytes(o["name"]), o["state"].toInt(0), {}});
        }
    }
    if (root.contains("systemParamFiles")) {
        c->systemParamFiles.clear();
        for (const QJsonValue& e : root["systemParamFiles"].toArray())
            c->systemParamFiles.push_back(bytes(e));
    }
    if (root.contains("lte")) {
        const QJsonObject o = root["lte"].toObject();
        c->lteMeasurements = o["measurements"].toInt(c->lteMeasurements);
        c->lteCellId = o["cellId"].toInt(c->lteCellId);
        LteValues& v = c->lte;
        readFloat(o, "evmRms", &v.evmRms);
        readFloat(o, "evmCarrier", &v.evmCarrier);
        readFloat(o, "evmNonAllocatedCarriers", &v.evmNonAllocatedCarriers);
        readFloat(o, "freqError", &v.freqError);
        readFloat(o, "carrierLeak", &v.carrierLeak);
        readFloat(o, "symbolClkError", &v.symbolClkError);
        readFloat(o, "iqGainImbalance", &v.iqGainImbalance);
        readFloat(o, "iqSkew", &v.iqSkew);
    }
    return true;
}

bool loadConfigFile(const std::string& path, Config* config, std::string* error)
{
    const QString name = QString::fromLocal8Bit(path.data(), qsizetype(path.size()));
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot open %1: %2").arg(name, file.errorString()).toStdString();
        return false;
    }
    const QByteArray json = file.readAll();
    return applyConfigJson(std::string_view(json.constData(), std::size_t(json.size())), config, error);
}

Model::Model(Config c) : config(std::move(c)), protocolEnabled(config.paths.size(), 0) {}

bool Model::adcOverloaded(int32_t index) const
{
    const Path& p = config.paths[std::size_t(index)];
    return p.adcOverloaded || p.rxLevel > config.adcOverloadLevel;
}

bool Model::scenarioRunning(Clock::time_point now) const
{
    return runningScenario && now < runningUntil;
}

bool Model::protocolResultsAvailable() const
{
    for (int32_t e : protocolEnabled)
        if (e != 0)
            return true;
    return false;
}

bool Model::lteResultsAvailable(int32_t index) const
{
    for (const auto& [key, enabled] : lteEnabled)
        if (key.first == index && enabled != 0)
            return true;
    return false;
}

void Model::fullProtocolReset()
{
    std::fill(protocolEnabled.begin(), protocolEnabled.end(), 0);
    std::erase_if(handles, [](const auto& h) { return h.second.kind == ResultsHandle::Kind::Protocol; });
}

std::optional<FinishedScenario> Model::takeFinishedScenario(Clock::time_point now)
{
    if (!scenarioEndPending || !runningScenario || now < runningUntil)
        return std::nullopt;
    scenarioEndPending = false;
    return FinishedScenario{*runningScenario, runningPeer};
}

void storeNamedText(std::vector<NamedText>& list, std::string name, std::string content)
{
    for (NamedText& t : list) {
        if (t.name == name) {
            t.content = std::move(content);
            return;
        }
    }
    list.push_back({std::move(name), std::move(content)});
}

const NamedText* findNamedText(const std::vector<NamedText>& list, std::string_view name)
{
    for (const NamedText& t : list)
        if (t.name == name)
            return &t;
    return nullptr;
}

void makeTrace(ResultsHandle::Kind kind, int32_t trace, int32_t length, std::vector<double>* x,
               std::vector<double>* y)
{
    // Protocol traces: one point per millisecond around 10 * trace.
    // LTE traces: one point per 15 kHz subcarrier around -40 - 5 * trace.
    const bool lte = kind == ResultsHandle::Kind::Lte;
    const double step = lte ? 15000.0 : 1.0;
    const double level = lte ? -40.0 - 5.0 * trace : 10.0 * trace;
    x->resize(std::size_t(length));
    y->resize(std::size_t(length));
    for (int32_t i = 0; i < length; ++i) {
        (*x)[std::size_t(i)] = i * step;
        (*y)[std::size_t(i)] = level + 3.0 * std::sin(2.0 * std::numbers::pi * i / 128.0);
    }
}

std::pair<double, double> protocolResultItem(int32_t item)
{
    return {100.0 * (item + 1), 0.5 * item};
}

} // namespace tqbse::emu
