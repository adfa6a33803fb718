#include "test_peer.h"
#include "test_support.h"
#include "transport/ocs_client.h"
#include "transport/thread_handoff.h"

#include <QDirIterator>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <random>

namespace {

struct SEvent {
    enum EKind { CONNECT, RECEIVE, DISCONNECT } kind;
    int error = 0;
    QByteArray data;
    QString address;
    int port = 0;
};

// Records the client's events as they come, from whichever thread.
class CRecorder : public COcsClientEvents {
public:
    std::function<void(const SEvent&)> onEvent; // runs on the worker thread, inside the event

    void OnOcsConnect(const QString& address, int port, int error) override {
        Add({SEvent::CONNECT, error, {}, address, port});
    }
    void OnOcsReceive(const QString& address, int port, char* data, int length, int) override {
        data[length] = 0; // the buffer has room for it
        Add({SEvent::RECEIVE, 0, QByteArray(data, length), address, port});
    }
    void OnOcsDisconnect(const QString& address, int port, int error) override {
        Add({SEvent::DISCONNECT, error, {}, address, port});
    }

    bool WaitFor(SEvent::EKind kind, int timeoutMs = 5000) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            for (const SEvent& e : m_events)
                if (e.kind == kind)
                    return true;
            return false;
        });
    }
    // A copy made element by element under the lock: a shared copy would let the worker's next
    // append test the share count without synchronising with our reads (a race TSan reports).
    QList<SEvent> Events() {
        std::lock_guard<std::mutex> lock(m_mutex);
        QList<SEvent> copy;
        copy.reserve(m_events.size());
        for (const SEvent& e : std::as_const(m_events))
            copy << e;
        return copy;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.clear();
    }
    QByteArray Received() {
        QByteArray all;
        for (const SEvent& e : Events())
            if (e.kind == SEvent::RECEIVE)
                all += e.data;
        return all;
    }

private:
    void Add(const SEvent& e) {
        if (onEvent)
            onEvent(e);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events << e;
        m_cv.notify_all();
    }
    std::mutex m_mutex;
    std::condition_variable m_cv;
    QList<SEvent> m_events;
};

} // namespace

class TestTcpSocket : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { IgnoreBrokenPipes(); }

    // Bytes both ways; the peer's close or reset ends the link, said once, and no send may crash.
    void connectSendReceiveAndPeerClose_data() {
        QTest::addColumn<bool>("reset");
        QTest::newRow("closed") << false;
        QTest::newRow("reset") << true;
    }
    void connectSendReceiveAndPeerClose() {
        QFETCH(bool, reset);
        CTestListener peer("127.0.0.11");
        QVERIFY(peer.IsListening());
        CRecorder events;
        COcsClient client;
        client.SetHandler(&events);
        QCOMPARE(client.Connect("127.0.0.11", OCS_TCP_PORT), 0);
        const PeerHandle fd = peer.Accept();
        QVERIFY(fd != PEER_NONE);
        QVERIFY(events.WaitFor(SEvent::CONNECT));
        QCOMPARE(events.Events()[0].error, 0);
        QCOMPARE(events.Events()[0].address, QStringLiteral("127.0.0.11"));
        QCOMPARE(events.Events()[0].port, OCS_TCP_PORT);
        QVERIFY(client.IsConnected());

        QCOMPARE(client.Send("\x02", 1), 0);
        int sent = -5;
        QCOMPARE(client.Send("AB", 2, &sent), 0);
        QCOMPARE(sent, 2);
        QCOMPARE(ReadFor(fd, 3), QByteArray("\x02"
                                            "AB"));

        // Chunks come as the receives return them, never more than 1023 bytes.
        QByteArray big;
        for (int i = 0; i < 5000; ++i)
            big.append(char(i * 7 + 1));
        WriteBytes(fd, QByteArray(1, 'x'));
        QTRY_COMPARE(events.Received(), QByteArray("x"));
        WriteBytes(fd, big);
        QTRY_COMPARE_WITH_TIMEOUT(events.Received().size(), 5001, 5000);
        QCOMPARE(events.Received(), "x" + big);
        for (const SEvent& e : events.Events())
            if (e.kind == SEvent::RECEIVE)
                QVERIFY(e.data.size() >= 1 && e.data.size() <= 1023);

        if (reset)
            ResetAndClose(fd);
        else
            ClosePeer(fd);
        QVERIFY(events.WaitFor(SEvent::DISCONNECT));
        QCOMPARE(events.Events().last().kind, SEvent::DISCONNECT);
        // Wine reports a reset as an orderly end (0) where Windows says WSAECONNRESET.
        if (!OnWindows())
            QCOMPARE(events.Events().last().error, reset ? ECONNRESET : 0);
        QVERIFY(!client.IsConnected());
        QCOMPARE(client.Send("A", 1), int(TCP_NOT_CONNECTED));
        client.Close(); // harmless after the peer closed
    }

    void failedAttempts_data() {
        QTest::addColumn<QString>("address");
        QTest::newRow("nothing listening") << "127.0.0.13";
        QTest::newRow("host name") << "localhost";
        QTest::newRow("empty") << "";
        QTest::newRow("garbage") << "127.0.0.1.5";
    }
    void failedAttempts() {
        QFETCH(QString, address);
        CRecorder events;
        COcsClient client;
        client.SetHandler(&events);
        QCOMPARE(client.Connect(address, OCS_TCP_PORT), 0);
        QVERIFY(events.WaitFor(SEvent::CONNECT));
        QVERIFY(events.Events()[0].error != 0);
        QVERIFY(!client.IsConnected());
        client.Close();

        // The client is usable again, with a fresh socket.
        CTestListener peer("127.0.0.13");
        events.Clear();
        QCOMPARE(client.Connect("127.0.0.13", OCS_TCP_PORT), 0);
        QVERIFY(events.WaitFor(SEvent::CONNECT));
        QCOMPARE(events.Events()[0].error, 0);
        QCOMPARE(client.Connect("127.0.0.13", OCS_TCP_PORT), int(TCP_ALREADY_CONNECTED));
        client.Close();
    }

    void socketResultCodes() {
        CTcpSocket socket;
        QVERIFY(!socket.IsCreated());
        QCOMPARE(socket.Send("A", 1), int(TCP_NOT_CONNECTED));
        QCOMPARE(socket.Create(SOCK_STREAM), 0);
        QVERIFY(socket.IsCreated());
        QCOMPARE(socket.Create(SOCK_STREAM), int(TCP_ALREADY_CREATED));
        socket.Close();
        QVERIFY(!socket.IsCreated());

        // No descriptors left: creating fails.
        SKIP_ON_WINDOWS("no limit on open sockets to set on Windows");
        QCOMPARE(WithFewDescriptors(-1000, [&socket] { return socket.Create(SOCK_STREAM); }),
                 int(TCP_FAILED));
    }

    // A listener with a full backlog leaves a second connect hanging on loopback.
    void closeWhileConnectHangs() {
        CTestListener peer("127.0.0.14", 0);
        COcsClient first;
        CRecorder firstEvents;
        first.SetHandler(&firstEvents);
        QCOMPARE(first.Connect("127.0.0.14", OCS_TCP_PORT), 0);
        QVERIFY(firstEvents.WaitFor(SEvent::CONNECT));

        CTcpSocket socket;
        QCOMPARE(socket.Create(SOCK_STREAM), 0);
        QCOMPARE(socket.Connect("127.0.0.14", OCS_TCP_PORT), 0);
        QCOMPARE(socket.Connect("127.0.0.14", OCS_TCP_PORT), int(TCP_BUSY));

        CRecorder events;
        COcsClient client;
        client.SetHandler(&events);
        QCOMPARE(client.Connect("127.0.0.14", OCS_TCP_PORT), 0);
        QCOMPARE(client.Connect("127.0.0.14", OCS_TCP_PORT), int(TCP_BUSY));
        QTest::qWait(100);
        QVERIFY(events.Events().isEmpty());
        client.Close();
        socket.Close();
        // A new attempt may start at once; the hanging one ends on its own and says nothing.
        QCOMPARE(client.Connect("127.0.0.14", OCS_TCP_PORT), 0);
        client.Close();
        first.Close();
        ClosePeer(peer.Accept(100));
        QTest::qWait(300);
        QVERIFY(events.Events().isEmpty());
    }

    void closeFromInsideEvents_data() {
        QTest::addColumn<int>("closeOn");
        QTest::newRow("on receive") << int(SEvent::RECEIVE);
        QTest::newRow("on disconnect") << int(SEvent::DISCONNECT);
        QTest::newRow("on connect") << int(SEvent::CONNECT);
    }
    void closeFromInsideEvents() {
        QFETCH(int, closeOn);
        CTestListener peer("127.0.0.15");
        CRecorder events;
        COcsClient client;
        std::atomic<int> closes{0};
        events.onEvent = [&](const SEvent& e) {
            if (e.kind == closeOn) {
                client.Close();
                ++closes;
            }
        };
        client.SetHandler(&events);
        QCOMPARE(client.Connect("127.0.0.15", OCS_TCP_PORT), 0);
        const PeerHandle fd = peer.Accept();
        QVERIFY(events.WaitFor(SEvent::CONNECT));
        if (closeOn != SEvent::CONNECT) {
            WriteBytes(fd, "hello");
            if (closeOn == SEvent::DISCONNECT) {
                QVERIFY(events.WaitFor(SEvent::RECEIVE));
                ClosePeer(fd);
            }
        }
        QTRY_COMPARE(closes.load(), 1);
        QVERIFY(!client.IsConnected());
        // The peer sees the connection end; nothing more is delivered.
        QCOMPARE(ReadFor(fd, 1, 2000), QByteArray());
        const int count = events.Events().size();
        WriteBytes(fd, "more");
        QTest::qWait(100);
        QCOMPARE(events.Events().size(), count);
        if (closeOn != SEvent::DISCONNECT)
            ClosePeer(fd);
    }

    // Random peers, random timing: no crash, no event after Close, no thread left behind.
    void thousandCycles() {
        CTestListener peer("127.0.0.16", 64);
        std::atomic<bool> stop{false};
        std::thread server([&] {
            std::mt19937 rng(42);
            while (!stop) {
                const PeerHandle fd = peer.Accept(50);
                if (fd == PEER_NONE)
                    continue;
                switch (rng() % 4) {
                case 0:
                    ClosePeer(fd);
                    break;
                case 1:
                    ResetAndClose(fd);
                    break;
                case 2:
                    WriteBytes(fd, QByteArray(int(rng() % 3000) + 1, 'r'));
                    ClosePeer(fd);
                    break;
                default:
                    ReadFor(fd, 1, 2);
                    ClosePeer(fd);
                }
            }
        });
        const int baseline = ThreadCount();
        std::atomic<bool> closed{true};
        std::atomic<int> late{0};
        CRecorder events;
        events.onEvent = [&](const SEvent&) {
            if (closed)
                ++late;
        };
        COcsClient client;
        client.SetHandler(&events);
        std::mt19937 rng(7);
        for (int i = 0; i < 1000; ++i) {
            closed = false;
            const char* address = (rng() % 5 == 0) ? "127.0.0.17" : "127.0.0.16";
            QCOMPARE(client.Connect(address, OCS_TCP_PORT), 0);
            const int wait = int(rng() % 3);
            if (wait)
                std::this_thread::sleep_for(std::chrono::microseconds(300 * wait));
            client.Send("x", 1);
            client.Close();
            closed = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        stop = true;
        server.join();
        QCOMPARE(late.load(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(ThreadCount() <= baseline - 1, 5000); // the server thread has gone too
    }

    // Calls handed over by several threads while the receiver is busy: each runs once, on the
    // receiver's thread, in the order its thread handed it over.
    void handoffKeepsEveryCallInOrder() {
        CThreadHandoff handoff;
        const Qt::HANDLE mainThread = QThread::currentThreadId();
        constexpr int THREADS = 4;
        constexpr int CALLS = 5000;
        std::vector<std::vector<int>> seen(THREADS);
        int offThread = 0;
        std::vector<std::thread> workers;
        for (int t = 0; t < THREADS; ++t) {
            workers.emplace_back([&, t] {
                for (int i = 0; i < CALLS; ++i) {
                    handoff.Post([&, t, i] {
                        if (QThread::currentThreadId() != mainThread)
                            ++offThread;
                        seen[t].push_back(i);
                    });
                    if (i % 1000 == 0)
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            });
        }
        // Drained now and then while the workers still post, so that a hand-off racing a drain is hit.
        for (int n = 0; n < 20; ++n) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        for (std::thread& worker : workers)
            worker.join();
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(seen.begin(), seen.end(),
                        [](const std::vector<int>& calls) { return calls.size() >= CALLS; }),
            5000);
        QCOMPARE(offThread, 0);
        for (const std::vector<int>& calls : seen) {
            QCOMPARE(int(calls.size()), CALLS);
            for (int i = 0; i < CALLS; ++i)
                QCOMPARE(calls[size_t(i)], i);
        }
    }

    // A call that opens a modal box runs an event loop of its own; what is handed over meanwhile must
    // still run there, in order, as queued calls do, and not wait for the box to close.
    void handoffRunsLaterCallsInNestedLoop() {
        CThreadHandoff handoff;
        QStringList order;
        std::atomic<bool> opened{false};
        bool laterRan = false;
        std::thread worker([&] {
            handoff.Post([&] {
                order << "modal opens";
                opened = true;
                QEventLoop loop;
                QTimer poll;
                connect(&poll, &QTimer::timeout, &loop, [&] {
                    if (laterRan)
                        loop.quit();
                });
                poll.start(5);
                QTimer::singleShot(5000, &loop, &QEventLoop::quit);
                loop.exec();
                order << "modal closes";
            });
            while (!opened)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            handoff.Post([&] { order << "first after"; });
            handoff.Post([&] {
                order << "second after";
                laterRan = true;
            });
        });
        QTRY_COMPARE(order.size(), 4);
        worker.join();
        QCOMPARE(order, QStringList({"modal opens", "first after", "second after", "modal closes"}));
    }
};

POSEMU_TEST_MAIN(TestTcpSocket)
#include "test_tcp_socket.moc"
