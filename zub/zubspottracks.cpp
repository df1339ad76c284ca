// The second detector's decision: spots that recur at one place over consecutive frames
// form a track; a track strong and long enough is a detection unless its place is lit in
// most frames around it.
#include "zubspotdetector.h"

#include "zubapp.h"
#include "zubcandidate.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace
{
// A place lit in more than this share of the frames around a detection is a fixed feature;
// lit in more than kLitElsewhere of them besides the track's own frames, it lies in the path
// of something moving (a moon, a shadow) or is a noisy place. A flash lights its place once.
constexpr int kLitWindow = 250;
constexpr double kLitShare = 0.5;
constexpr double kLitElsewhere = 0.02;
// A track's spots besides its peak must reach this share of the threshold together.
constexpr double kRestShare = 0.75;
// A peak with a hollow beside it at least this deep (as a share of the peak, and in sigma) is
// something that moved since the reference, not light that was added.
constexpr float kDipoleShare = 0.5f;
constexpr float kDipoleScore = 5.0f;

CZubLog& Log()
{
    return ZubApp().m_log;
}
}  // namespace

struct CZubSpotDetector::STrack
{
    int iFirst = 0;
    int iLast = 0;
    int nFrames = 0;
    int x = 0;  // where its last spot was
    int y = 0;
    int x0 = 0;  // where its first spot was
    int y0 = 0;
    double sumX = 0.0, sumY = 0.0, sumW = 0.0;
    double sumSquares = 0.0;  // of the spots' scores
    SZubSpot peak;

    // The evidence of its spots besides the peak, together, in sigma: a cosmic ray or a
    // glitch is one strong spot, perhaps met by noise in the next frame.
    double Rest() const { return std::sqrt(std::max(0.0, sumSquares - static_cast<double>(peak.fScore) * peak.fScore)); }
    // A flash stays at its place on the planet; a moon or a shadow moves on.
    bool Moved() const { return std::abs(x - x0) > kTrackRadius || std::abs(y - y0) > kTrackRadius; }
    bool Dipole() const { return peak.fLowest < -std::max(kDipoleScore, kDipoleShare * peak.fScore); }

    SZubPoint Place() const
    {
        return {static_cast<int32_t>(std::lround(sumX / sumW)), static_cast<int32_t>(std::lround(sumY / sumW))};
    }
    void Add(const SZubSpot& s)
    {
        if (nFrames == 0)
        {
            iFirst = s.iFrame;
            x0 = s.x;
            y0 = s.y;
        }
        iLast = s.iFrame;
        ++nFrames;
        x = s.x;
        y = s.y;
        const double weight = std::max(s.fScore, 1e-3f);
        sumX += weight * s.x;
        sumY += weight * s.y;
        sumW += weight;
        sumSquares += static_cast<double>(s.fScore) * s.fScore;
        if (nFrames == 1 || s.fScore > peak.fScore)
            peak = s;
    }
};

void CZubSpotDetector::BuildTracks(std::vector<STrack>& tracks) const
{
    std::vector<STrack> open;
    size_t i = 0;
    while (i < m_spots.size())
    {
        const int frame = m_spots[i].iFrame;
        // Tracks that missed more than one frame are over.
        for (size_t t = 0; t < open.size();)
        {
            if (open[t].iLast < frame - 2)
            {
                tracks.push_back(open[t]);
                open[t] = open.back();
                open.pop_back();
            }
            else
                ++t;
        }
        // Best spots first, each to the nearest track not yet extended in this frame.
        for (; i < m_spots.size() && m_spots[i].iFrame == frame; ++i)
        {
            const SZubSpot& s = m_spots[i];
            STrack* nearest = nullptr;
            int nearestDistance = 0;
            for (STrack& t : open)
            {
                const int dx = std::abs(t.x - s.x);
                const int dy = std::abs(t.y - s.y);
                if (t.iLast == frame || dx > kTrackRadius || dy > kTrackRadius)
                    continue;
                if (!nearest || dx + dy < nearestDistance)
                {
                    nearest = &t;
                    nearestDistance = dx + dy;
                }
            }
            if (!nearest)
            {
                open.emplace_back();
                nearest = &open.back();
            }
            nearest->Add(s);
        }
    }
    tracks.insert(tracks.end(), open.begin(), open.end());
}

CZubSpotDetector::SLit CZubSpotDetector::LitShare(const STrack& track, int nRecords) const
{
    SLit share;
    const int first = std::max(1, track.peak.iFrame - kLitWindow);
    const int last = std::min(nRecords, track.peak.iFrame + kLitWindow);
    if (last < first)
        return share;
    const SZubPoint place = track.Place();
    auto it = std::lower_bound(m_spots.begin(), m_spots.end(), first,
                               [](const SZubSpot& s, int frame) { return s.iFrame < frame; });
    int lit = 0;
    int litElsewhere = 0;
    int litFrame = 0;
    for (; it != m_spots.end() && it->iFrame <= last; ++it)
    {
        const bool bAway = std::abs(it->x - place.x) > kTrackRadius || std::abs(it->y - place.y) > kTrackRadius;
        if (it->iFrame == litFrame || bAway)
            continue;
        litFrame = it->iFrame;
        ++lit;
        litElsewhere += it->iFrame < track.iFirst || it->iFrame > track.iLast;
    }
    share.all = static_cast<double>(lit) / (last - first + 1);
    share.elsewhere = static_cast<double>(litElsewhere) / (last - first + 1);
    return share;
}

bool CZubSpotDetector::Mark(const STrack& track, CZubCandidate* records, int nRecords)
{
    const SZubParams& p = ZubApp().m_params;
    const SZubSpot& peak = track.peak;
    CZubCandidate& record = records[peak.iFrame - 1];
    if (record.m_iFrame != peak.iFrame || record.m_iZubState != ZUB_STATE_NONE)
        return false;
    record.m_ptZub = {peak.x, peak.y};
    // On the scale of the difference image, as KIV's value: the frame's level plus the increase.
    record.m_iZubValue = std::clamp(record.m_iLevel + static_cast<int32_t>(std::lround(peak.fIncrease)), 0, 255);
    m_zubScore[static_cast<size_t>(peak.iFrame - 1)] = peak.fScore;
    // Found by KIV too: listed once, as KIV's candidate.
    const int64_t first = std::max<int64_t>(1, int64_t{peak.iFrame} - p.RejectDuplicities);
    const int64_t last = std::min<int64_t>(nRecords, int64_t{peak.iFrame} + p.RejectDuplicities);
    for (int64_t f = first; f <= last; ++f)
    {
        const CZubCandidate& other = records[f - 1];
        if (other.m_iKivState == ZUB_STATE_CANDIDATE && ZubIsNear(other.m_ptKiv, record.m_ptZub, p.RadiusSearch))
        {
            record.m_iZubState = ZUB_STATE_CLEARED;
            // KIV's detection is as strong as this one, whatever KIV's own brightest pixel says.
            float& kiv = m_kivScore[static_cast<size_t>(f - 1)];
            kiv = std::max(kiv, peak.fScore);
            Log().Log("ZUB frame: %4i at: (%3i-%3i) found by KIV in frame: %i", peak.iFrame, peak.x, peak.y,
                      static_cast<int>(f));
            return false;
        }
    }
    record.m_iZubState = ZUB_STATE_CANDIDATE;
    Log().Log("ZUB CANDIDATE frame: %4i at: (%3i-%3i) %5.1f sigma in %i frames", peak.iFrame, peak.x, peak.y,
              peak.fScore, track.nFrames);
    return true;
}

int CZubSpotDetector::Detect(CZubCandidate* records, int nRecords)
{
    const SZubParams& p = ZubApp().m_params;
    if (!p.ZubDetection)
        return 0;
    Log().LogView("Detect algorithm: ZUB");
    Log().LogView("Min. score: %i sigma", p.ZubThreshold);
    Log().LogView("Min. frames at one place: %i", p.ZubMinFrames);
    Log().LogView("Radius spot: %i", kTrackRadius);
    Log().LogView("Processing frames by ZUB algorithm...");
    if (!m_bReady)
        Log().Log("ZUB: no mean frame to compare with.");
    if (DefectCount() > 0)
        Log().Log("ZUB: %i pixels of the sensor are defective and left out.", static_cast<int>(DefectCount()));
    if (m_nUnlike > 0)
        Log().Log("ZUB: %i frames are unlike the mean and not searched.", m_nUnlike);
    if (m_bReady)
        Log().Log("Detection limit: %s.", ZubDetectionLimitText(Limit(p.ZubThreshold)).c_str());

    std::vector<STrack> tracks;
    if (m_bReady)
        BuildTracks(tracks);
    const size_t frames = static_cast<size_t>(std::max(0, nRecords));
    m_kivScore.resize(std::max(m_kivScore.size(), frames), 0.0f);
    m_zubScore.assign(frames, 0.0f);
    std::sort(tracks.begin(), tracks.end(), [](const STrack& a, const STrack& b) { return a.iFirst < b.iFirst; });
    const bool bDetail = p.LogProcess && p.LogDetails;
    int nFound = 0;
    for (const STrack& track : tracks)
    {
        if (track.nFrames < p.ZubMinFrames || track.peak.fScore < static_cast<float>(p.ZubThreshold) ||
            track.Rest() < kRestShare * p.ZubThreshold || track.peak.iFrame < 1 || track.peak.iFrame > nRecords)
            continue;
        const SLit lit = LitShare(track, nRecords);
        if (bDetail)
            Log().LogDetail("ZUB spot frames: %i-%i at: (%3i-%3i) %5.1f sigma (%5.1f besides) lit in %3.0f %% of "
                            "frames (%3.0f %% besides its own), %5.1f beside it%s",
                            track.iFirst, track.iLast, track.peak.x, track.peak.y, track.peak.fScore,
                            track.Rest(), 100.0 * lit.all, 100.0 * lit.elsewhere, track.peak.fLowest,
                            track.Moved() ? ", moving" : "");
        if (lit.all > kLitShare || lit.elsewhere > kLitElsewhere || track.Moved() || track.Dipole())
            continue;
        nFound += Mark(track, records, nRecords);
    }
    Log().LogView("Found %i candidates.", nFound);
    Log().LogView("Detection Ended.");
    return nFound;
}

float CZubSpotDetector::DetectionScore(const CZubCandidate& record, int algorithm) const
{
    const size_t at = static_cast<size_t>(std::max(1, record.m_iFrame)) - 1;
    const std::vector<float>& scores = algorithm == 2 ? m_zubScore : m_kivScore;
    return at < scores.size() ? scores[at] : 0.0f;
}
