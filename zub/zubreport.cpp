#include "zubreport.h"

#include "zubapp.h"
#include "zubcandidate.h"
#include "zubdoc.h"
#include "zubreplacefile.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

namespace
{
const char* const kChannelNames[] = {"gray", "red", "green", "blue"};

std::string Format(const char* format, double a, double b = 0.0)
{
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

std::string Html(const std::string& text)
{
    std::string out;
    for (const char c : text)
        switch (c)
        {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    return out;
}

// A file name as a relative address: every byte but the unreserved ones percent-encoded.
std::string Address(const std::string& name)
{
    std::string out;
    for (const unsigned char c : name)
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~')
            out += static_cast<char>(c);
        else
        {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    return out;
}

std::string Row(const char* head, const std::string& text)
{
    return std::string("<tr><th>") + head + "</th><td>" + Html(text) + "</td></tr>\n";
}

// Writes one picture of the video; its address on the page, or "" when there is none.
bool WritePicture(const SZubPicture& picture, const std::string& folder, const std::string& name,
                  const ZubPngWriter& writePng, std::string& address, std::string& error)
{
    address.clear();
    if (picture.Empty())
        return true;
    if (!writePng(folder + "/" + name, picture, error))
        return false;
    address = Address(name);
    return true;
}

std::string CandidateHtml(const CZubDoc& doc, int i, const std::string& strip, const std::string& curve)
{
    const CZubImpact& impact = doc.m_pCandidates->m_aImpacts[static_cast<size_t>(i)];
    const SZubPoint at = ZubPicturePosition(doc, impact);
    const std::string utc = doc.m_bSer ? doc.m_pSer->FormatFrameUtc(impact.m_iFrame - 1) : "";
    char head[200];
    std::snprintf(head, sizeof head, "#%d frame %d, at (%d, %d) from the planet's centre, %s, increase %d%s%s%s", i + 1,
                  impact.m_iFrame, at.x, at.y, ZubAlgorithmText(impact.m_iAlgorithm), ZubDetectionIncrease(doc, impact),
                  utc.empty() ? "" : ", ", utc.c_str(), utc.empty() ? "" : " UTC");
    std::string html = "<div class=\"candidate\"><h3>" + Html(head) + "</h3>\n";
    if (!strip.empty())
        html += "<img class=\"strip\" src=\"" + strip + "\" alt=\"frames around frame " +
                std::to_string(impact.m_iFrame) + "\">\n";
    if (!curve.empty())
        html += "<figure><img class=\"curve\" src=\"" + curve + "\" alt=\"light curve, frame " +
                std::to_string(impact.m_iFrame) +
                " marked\"><figcaption>Light curve: the spot's brightness over its surroundings (gray levels) in every "
                "frame; the red line marks the detection frame.</figcaption></figure>\n";
    return html + "</div>\n";
}
// "YYYY-MM-DD HH:MM:SS.mmm" of seconds since 1970 in UTC.
std::string UtcText(double seconds)
{
    const long long millis = std::llround(seconds * 1000.0);
    const time_t t = static_cast<time_t>(millis / 1000);
    std::tm tm{};
    if (millis < 0 || !gmtime_r(&t, &tm))
        return {};
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(millis % 1000));
    return text;
}

// A container's creation time ("2019-09-29T04:00:00.000000Z", "2019-09-29 04:00:00"), in
// seconds since 1970; false when it is not such a time.
bool ParseUtc(const std::string& text, double& seconds)
{
    std::tm tm{};
    double second = 0.0;
    char separator = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%lf", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &separator,
                    &tm.tm_hour, &tm.tm_min, &second) != 7 ||
        (separator != 'T' && separator != ' ') || tm.tm_year < 1970 || second < 0.0 || second >= 61.0)
        return false;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    const time_t t = timegm(&tm);
    seconds = static_cast<double>(t) + second;
    return t != static_cast<time_t>(-1);
}
}  // namespace

SZubTimeCovered ZubTimeCovered(const CZubDoc& doc)
{
    SZubTimeCovered time;
    time.framesSearched = std::min<int64_t>(doc.m_nProcessed, doc.RecordCount());
    const int64_t frames = doc.m_llFrames;
    int64_t first = 0, last = 0;
    if (doc.m_bSer && frames > 0 && doc.m_pSer->GetFrameUtc(0, first) &&
        doc.m_pSer->GetFrameUtc(static_cast<int>(frames - 1), last) && last >= first)
    {
        time.start = doc.m_pSer->FormatFrameUtc(0);
        time.end = doc.m_pSer->FormatFrameUtc(static_cast<int>(frames - 1));
        // The last frame lasts as long as the others on average.
        const double span = static_cast<double>(last - first) * 1e-6;
        time.seconds = frames > 1 ? span * static_cast<double>(frames) / static_cast<double>(frames - 1) : 0.0;
        time.source = "time stamps";
    }
    else if (doc.m_llAvgTimePerFrame > 0 && frames > 0)
    {
        time.seconds = static_cast<double>(frames) * static_cast<double>(doc.m_llAvgTimePerFrame) * 1e-7;
        time.source = "frame rate";
    }
    // Without time stamps, the file's own time (a container's creation time) if it has one.
    if (double start = 0.0; time.start.empty() && ParseUtc(doc.m_csCreationTime, start))
    {
        time.start = UtcText(start);
        if (time.seconds >= 0.0)
            time.end = UtcText(start + time.seconds);
        time.source = time.seconds >= 0.0 ? "creation time, frame rate" : "creation time";
    }
    return time;
}

std::string ZubTimeCoveredText(const SZubTimeCovered& time)
{
    std::string text;
    if (!time.start.empty())
        text = time.start + " to " + (time.end.substr(0, 10) == time.start.substr(0, 10) ? time.end.substr(11) : time.end) +
               " UTC, ";
    text += time.seconds >= 0.0 ? Format("%.1f s (", time.seconds) + time.source + ")" : "length unknown";
    return text + ", " + std::to_string(time.framesSearched) + " frames searched";
}

std::string ZubVideoFacts(const CZubDoc& doc)
{
    std::string facts = std::to_string(doc.m_bih.biWidth) + " x " + std::to_string(doc.m_bih.biHeight) + ", " +
                        std::to_string(doc.m_llFrames) + " frames";
    if (doc.m_llAvgTimePerFrame != 0)
        facts += ", " + std::to_string(static_cast<int>(10000000.0 / doc.m_llAvgTimePerFrame + 0.5)) + " fps";
    if (doc.m_bSer)
        facts += ", SER " + std::to_string(doc.m_pSer->PixelDepthPerPlane) + "-bit " + doc.m_pSer->ColorText();
    if (doc.m_nChannel != 0)
        facts += ", " + std::string(kChannelNames[doc.m_nChannel & 3]) + " channel";
    return facts;
}

SZubDetectionLimit ZubDocDetectionLimit(const CZubDoc& doc)
{
    if (!ZubApp().m_params.ZubDetection)
        return {};
    return doc.m_spotDetector.Limit(ZubApp().m_params.ZubThreshold);
}

int ZubDetectionIncrease(const CZubDoc& doc, const CZubImpact& impact)
{
    const CZubCandidate* record = doc.Record(impact.m_iFrame);
    if (!record)
        return 0;
    return (impact.m_iAlgorithm == 1 ? record->m_iKivValue : record->m_iZubValue) - record->m_iLevel;
}

bool ZubReportVideo(const CZubDoc& doc, const std::string& folder, const ZubPngWriter& writePng,
                    SZubReportVideo& part, std::string& error)
{
    part = {};
    // Pictures and page name the video by its file name, wherever it lies.
    part.name = doc.m_csFileName.substr(doc.m_csFileName.find_last_of('/') + 1);
    part.facts = ZubVideoFacts(doc);
    const SZubTimeCovered time = ZubTimeCovered(doc);
    part.time = ZubTimeCoveredText(time);
    part.seconds = std::max(0.0, time.seconds);
    part.frames = time.framesSearched;
    part.limit = ZubDetectionLimitText(ZubDocDetectionLimit(doc));
    part.candidates = doc.CandidateCount();
    if (part.candidates == 0)
        return true;

    std::string image;
    if (!WritePicture(ZubDetectionPicture(doc), folder, part.name + "-detection.png", writePng, image, error))
        return false;
    std::string& html = part.html;
    html = "<section class=\"video\">\n<h2>" + Html(part.name) + "</h2>\n<table class=\"facts\">\n" +
           Row("Video", part.facts) + Row("Time covered", part.time) + Row("Detection limit", part.limit) +
           Row("Candidates", std::to_string(part.candidates)) + "</table>\n";
    if (!image.empty())
        html += "<figure><img class=\"detection\" src=\"" + image +
                "\" alt=\"detection image\"><figcaption>Detection image: for every point the largest "
                "difference of the run in sigma, the candidates circled and numbered.</figcaption></figure>\n";
    for (int i = 0; i < part.candidates; ++i)
    {
        const CZubImpact& impact = doc.m_pCandidates->m_aImpacts[static_cast<size_t>(i)];
        const std::string stem = part.name + "-" + std::to_string(i + 1);
        std::string strip, curve;
        if (!WritePicture(ZubStripPicture(doc, impact), folder, stem + "-frames.png", writePng, strip, error) ||
            !WritePicture(ZubCurvePicture(doc, impact), folder, stem + "-curve.png", writePng, curve, error))
            return false;
        html += CandidateHtml(doc, i, strip, curve);
    }
    html += "</section>\n";
    return true;
}

namespace
{
std::string PartPath(const std::string& folder, const std::string& name)
{
    return folder + "/." + name + ".zubpart";
}

// One "key=value" line per figure (values on one line), then the section's HTML.
std::string PartText(const SZubReportVideo& part)
{
    auto line = [](const char* key, std::string value) {
        for (char& c : value)
            if (c == '\n' || c == '\r')
                c = ' ';
        return std::string(key) + "=" + value + "\n";
    };
    return "zub-report-part 1\n" + line("name", part.name) + line("failure", part.failure) +
           line("facts", part.facts) + line("time", part.time) + line("limit", part.limit) +
           line("seconds", Format("%.3f", part.seconds)) + line("frames", std::to_string(part.frames)) +
           line("candidates", std::to_string(part.candidates)) + "--\n" + part.html;
}

bool ParsePart(const std::string& text, SZubReportVideo& part)
{
    part = {};
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != "zub-report-part 1")
        return false;
    while (std::getline(in, line) && line != "--")
    {
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            return false;
        const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
        if (key == "name") part.name = value;
        else if (key == "failure") part.failure = value;
        else if (key == "facts") part.facts = value;
        else if (key == "time") part.time = value;
        else if (key == "limit") part.limit = value;
        else if (key == "seconds") part.seconds = std::strtod(value.c_str(), nullptr);
        else if (key == "frames") part.frames = std::strtoll(value.c_str(), nullptr, 10);
        else if (key == "candidates") part.candidates = std::atoi(value.c_str());
    }
    if (line != "--")
        return false;
    const size_t body = text.find("\n--\n");
    part.html = text.substr(body + 4);
    return true;
}
}  // namespace

bool ZubSaveReportPart(const std::string& folder, const SZubReportVideo& part, std::string& error)
{
    const std::string text = PartText(part);
    CZubReplacingFile file;
    if (!file.Open(PartPath(folder, part.name), error))
        return false;
    if (std::fwrite(text.data(), 1, text.size(), file.Stream()) != text.size())
    {
        error = std::strerror(errno);
        return false;
    }
    return file.Commit(error);
}

SZubReportVideo ZubTakeReportPart(const std::string& folder, const std::string& name)
{
    const std::string path = PartPath(folder, name);
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    std::remove(path.c_str());
    SZubReportVideo part;
    if (!ParsePart(text, part) || part.name != name)
    {
        part = {};
        part.name = name;
        part.failure = "the run did not complete";
    }
    return part;
}

std::string ZubReportPage(const std::vector<SZubReportVideo>& videos)
{
    int nSearched = 0, nCandidates = 0, nWith = 0;
    int64_t frames = 0;
    double seconds = 0.0;
    std::string failed, nothing, sections;
    for (const SZubReportVideo& v : videos)
    {
        if (!v.failure.empty())
        {
            failed += "<tr><td>" + Html(v.name) + "</td><td>" + Html(v.failure) + "</td></tr>\n";
            continue;
        }
        ++nSearched;
        frames += v.frames;
        seconds += v.seconds;
        nCandidates += v.candidates;
        if (v.candidates > 0)
            ++nWith, sections += v.html;
        else
            nothing += "<tr><td>" + Html(v.name) + "</td><td>" + Html(v.facts) + "</td><td>" + Html(v.time) +
                       "</td><td>" + Html(v.limit) + "</td></tr>\n";
    }
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Zub report</title>\n<style>\n"
        "body{font-family:sans-serif;margin:2em;color:#222;max-width:1100px}\n"
        "h1{font-size:1.6em}h2{margin-top:1.6em;border-bottom:1px solid #999}h3{font-size:1em}\n"
        "table{border-collapse:collapse;margin:.5em 0}th,td{text-align:left;padding:.2em .8em .2em 0;"
        "vertical-align:top}\n"
        "table.list td,table.list th{border-bottom:1px solid #ddd}\n"
        "img{max-width:100%;image-rendering:pixelated;display:block;margin:.4em 0}\n"
        "img.detection{width:min(100%,400px)}figure{margin:.5em 0}\n"
        "figcaption{font-size:.85em;color:#555}\n"
        ".candidate{margin:1em 0 1.5em}\n"
        "@media print{body{margin:0}section,.candidate{break-inside:avoid}}\n"
        "</style>\n</head>\n<body>\n<h1>Zub report</h1>\n<table class=\"totals\">\n";
    page += Row("Videos", std::to_string(videos.size()) + " (" + std::to_string(nSearched) + " searched, " +
                              std::to_string(videos.size() - static_cast<size_t>(nSearched)) + " failed)");
    page += Row("Searched", Format("%.1f minutes", seconds / 60.0) + ", " + std::to_string(frames) + " frames");
    page += Row("Candidates", std::to_string(nCandidates) + " in " + std::to_string(nWith) + " videos");
    page += "</table>\n" + sections;
    if (!nothing.empty())
        page += "<h2>Searched, nothing found</h2>\n<table class=\"list\">\n<tr><th>Video</th><th>Facts</th>"
                "<th>Time covered</th><th>Detection limit</th></tr>\n" + nothing + "</table>\n";
    if (!failed.empty())
        page += "<h2>Not searched</h2>\n<table class=\"list\">\n<tr><th>Video</th><th>Why</th></tr>\n" + failed +
                "</table>\n";
    return page + "</body>\n</html>\n";
}

bool ZubWriteReportPage(const std::string& folder, const std::vector<SZubReportVideo>& videos, std::string& error)
{
    const std::string page = ZubReportPage(videos);
    CZubReplacingFile file;
    if (!file.Open(folder + "/index.html", error))
        return false;
    if (std::fwrite(page.data(), 1, page.size(), file.Stream()) != page.size())
    {
        error = "cannot write " + folder + "/index.html";
        return false;
    }
    return file.Commit(error);
}
