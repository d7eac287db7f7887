#pragma once

#include "acquire/EntryPlan.h"
#include "acquire/JobOutcome.h"
#include "acquire/SourceAddress.h"
#include "app/JobChunks.h"
#include "mapview/GeoArea.h"
#include "settings/ProxySettings.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class DownloadJob;

// The entry loop of a download job, free of the window. The road of one tile:
//   start()      begins the job on the DownloadJob (which probes the
//                destination once) and lists the first chunk of the area
//   goOn()       plans the front entry from the source as chosen now
//                (EntryPlan: address, file, transport, status text) and hands
//                it to DownloadJob::start as soon as the job can take it; an
//                entry that ends at once (no address, no writable file) is
//                counted by the job and passed over in the same loop
//   the job's tileFinished / archiveFinished run the loop again: the next
//                entry, or, once the list is worked off and nothing is in
//                flight, the next chunk or the end
//   ended()      carries the job's end text: why it had to stop, or what
//                became of its entries
// At most one entry is planned ahead of the job; whether the job takes it
// while another is still on the wire is the job's business (canStart).
class DownloadRun : public QObject
{
    Q_OBJECT

public:
    // What the run reads afresh whenever it needs it: the source for each
    // entry it plans, the proxy for each entry it starts (credentials entered
    // during a job reach its next request) and the download zoom before each
    // next chunk (lowered during a job, it ends the job below the levels left).
    struct Inputs
    {
        std::function<SourceAddress::TileSource()> source;
        std::function<ProxySettings()> proxy;
        std::function<int()> downloadZoom;
    };

    // A job as it is started: the area and first level, the kind of entries
    // to list and the destination, all fixed for the whole job.
    struct Job
    {
        GeoArea area;
        int fromZoom = 0;
        int sourceKind = 0;
        QString destFolder;
        int listLimit = TileEnumerator::ListLimit;
        // This run takes every shares-th entry of the list from the share-th
        // on, so several runs side by side work off disjoint parts of it.
        int share = 0;
        int shares = 1;
        // When not empty, the job's list instead of the area's tiles (tiles
        // found broken, a sample): one chunk, in this order.
        std::vector<TileId> tiles = {};
    };

    explicit DownloadRun(QObject *parent = nullptr);

    // Set before the first start; all three are needed.
    void setInputs(const Inputs &inputs) { m_inputs = inputs; }

    // Begins the job on downloadJob (whose per-entry reports the run takes
    // from now on) and works its entries off. The end may be reported before
    // this returns, e.g. for an area with nothing to fetch.
    void start(DownloadJob *downloadJob, const Job &job);
    // Takes the next entries while the job can start them; ends the chunk or
    // the job when nothing is left. A call with nothing to do does nothing.
    void goOn();
    // Stop: nothing more is started or listed, the entry in flight ends and
    // reports nothing (its old tile stays). Reports nothing itself.
    void stop();

    bool running() const { return m_running; }
    // The job's tile list; a copy job lists its chunks here too.
    JobChunks &chunks() { return m_chunks; }
    const JobChunks &chunks() const { return m_chunks; }
    // Entries taken from the list since the start.
    qint64 entries() const { return m_entries; }
    // What became of the entries so far (the job's live counts while it runs,
    // its final outcome once it ended); answers and bytes included.
    JobOutcome outcome() const;
    // The job ended by working off every entry, not by Stop or a stop reason.
    bool completed() const { return m_completed; }
    // The address of the entry last handed to the job.
    const QString &address() const { return m_address; }
    // The request id whose archive reports are taken (DownloadJob's archive
    // id once an HTTPS entry was started, 0 before).
    const int &archiveRequestId() const { return m_archiveRequestId; }
    // Set by stop(), cleared by start(): the reports of a stopped run count
    // for nothing.
    const bool &stopped() const { return m_stopped; }

    // The job's per-entry reports; both only run the loop again.
    void entryEnded();
    void archiveEnded(int requestId, bool error);

signals:
    // A chunk is listed: the progress bar counts its entries from minimum
    // to maximum, and its first entries follow.
    void barRange(int minimum, int maximum);
    // The chunk is worked off; the levels after the list limit follow.
    void restarting();
    // An entry with an address goes to the job: the status line's text.
    void entryText(const QString &text);
    // This host's terms forbid bulk downloads: the run has stopped as by
    // stop(), before anything was sent to it.
    void hostRejected(const QString &host);
    // The job waits for a server that asked it to: the status line's text,
    // once a second.
    void waitText(const QString &text);
    // The job is over: its end text for the status line.
    void ended(const QString &endText);

private:
    void attach(DownloadJob *downloadJob);
    bool planFront();
    bool startHeld();
    bool nextChunk();
    void finish();

    Inputs m_inputs;
    QPointer<DownloadJob> m_job;
    JobChunks m_chunks;
    QString m_destFolder;
    int m_sourceKind = 0;
    std::optional<JobOutcome> m_final;
    bool m_completed = false;
    std::optional<EntryPlan> m_held; // planned, not yet taken by the job
    qint64 m_entries = 0;
    qint64 m_listed = 0; // entries taken off the list, this run's share or not
    int m_share = 0;
    int m_shares = 1;
    QString m_address;
    int m_archiveRequestId = 0;
    bool m_running = false;
    bool m_stopped = false;
    bool m_looping = false;

    Q_DISABLE_COPY(DownloadRun)
};
