#include "testenv.h"

#include "i2c/flowcontrol.h"

#include <QThread>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

class TestFlowControl : public QObject
{
    Q_OBJECT

    // A sender thread that reports how many sent() calls have returned.
    struct Sender
    {
        std::atomic<int> returned { 0 };
        std::unique_ptr<QThread> thread;

        Sender(FlowControl &flow, int count)
        {
            thread.reset(QThread::create([this, &flow, count] {
                for (int i = 0; i < count; ++i) {
                    flow.sent();
                    ++returned;
                }
            }));
            thread->start();
        }
        ~Sender() { thread->wait(); }
    };

private slots:
    // The worker may run ahead by a full window, then waits until the main
    // thread has taken half of it: never one unbounded batch.
    void senderWaitsForTheReceiver()
    {
        FlowControl flow(8);
        Sender sender(flow, 12);
        QTRY_COMPARE(sender.returned.load(), 8);
        QTest::qWait(100);
        QCOMPARE(sender.returned.load(), 8); // the ninth is held back
        QCOMPARE(flow.inFlight(), 9);

        for (int i = 0; i < 4; ++i)
            flow.received();
        QCOMPARE(sender.returned.load(), 8); // still above half the window
        flow.received();
        QTRY_COMPARE(sender.returned.load(), 12);
        QCOMPARE(flow.inFlight(), 12 - 5);
    }

    // Shutting down must not leave the worker waiting for a main thread that
    // no longer takes anything.
    void closeReleasesTheSender()
    {
        FlowControl flow(2);
        Sender sender(flow, 50);
        QTRY_COMPARE(sender.returned.load(), 2);
        flow.close();
        QTRY_COMPARE(sender.returned.load(), 50);
    }

    // A script's wait ends early when the program goes away, and only then.
    void pauseEndsWhenClosed()
    {
        FlowControl flow(4);
        QVERIFY(flow.pause(1));
        QVERIFY(!flow.isClosed());
        std::thread closer([&flow] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            flow.close();
        });
        QVERIFY(!flow.pause(600000));
        closer.join();
        QVERIFY(flow.isClosed());
        QVERIFY(!flow.pause(600000));
    }

    void receivedNeverGoesNegative()
    {
        FlowControl flow(4);
        flow.received();
        flow.sent();
        QCOMPARE(flow.inFlight(), 1);
    }
};

PANEL_TEST_MAIN(TestFlowControl)
#include "tst_flowcontrol.moc"
