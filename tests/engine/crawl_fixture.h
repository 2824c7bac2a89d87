// TCrawlFixture: a task in Personal Intranet Mode, an owner loop, slots and a coordinator, for
// the crawl engine's tests. Items are added by hand; pages can be marked parsed on saving.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/download_thread.h"
#include "engine/loop_owner_thread.h"
#include "engine/queue_item.h"
#include "engine/slot_list.h"
#include "engine/task.h"
#include "links/file_io.h"
#include "links/url_rules.h"
#include "tasks/status_model.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_http_server.h"

namespace pellix::test {

class TCrawlFixture : public ::testing::Test {
protected:
    static constexpr std::chrono::seconds kDeadline{20};

    void SetUp() override
    {
        // Each setup saves into a folder of its own (ports do not separate sites on disk).
        m_site = m_folder.Text() + "site" + std::to_string(++m_setups) + "/";
        m_owner = std::make_unique<TLoopOwnerThread>();
        m_owner->Call([&] {
            m_task = std::make_unique<TPXTask>(nullptr);
            m_task->SetTaskName("Site");
            m_task->SetTaskFile((m_folder.Path() / "Site.pxt").string());
            m_task->SetIntranetMode(true);
            m_task->SetDestination(m_site);
            m_status = std::make_unique<TStatusModel>();
            m_status->BindTask(m_task.get());
            m_slots = std::make_unique<TSlotList>(*m_owner);
            m_slots->SetConnections(2);
        });
        m_coordinator = std::make_unique<TThreadDownload>(*m_owner, nullptr);
        m_coordinator->SetPriority(5);
    }

    void TearDown() override
    {
        // Workers wake the coordinator: it goes last, after it suspended and the slots are gone.
        m_owner->Call([&] { m_coordinator->Stop(); });
        m_coordinator->WaitSuspended(kDeadline);
        m_owner->Call([&] { m_slots.reset(); });
        m_coordinator.reset();
        m_owner->Call([&] {
            m_status.reset();
            m_task.reset();
        });
        m_owner->Stop();
    }

    // Adds an item to the task's list; "HTML" marks a page. The first item is the start address;
    // a link found on a page has depth 1 or more.
    TPXQItem* Add(const std::string& url, const std::string& group = "GIF", int action = kActionDownload,
                  int depth = 0)
    {
        TPXQItem* item = nullptr;
        m_owner->Call([&] {
            item = &m_task->DownloadList().AddItem(std::make_unique<TPXQItem>(url, group, action));
            if (depth != 0) {
                item->Reload();
                item->SetDepth(depth);
                item->WriteBack(true);
            }
        });
        return item;
    }

    // Stands in for the parse thread: a saved page is marked parsed at once.
    void ParsePagesOnSave()
    {
        m_owner->Call([&] {
            m_slots->OnPageSaved = [this](TPXQItem& item) {
                ++m_pagesSavedSeen;
                item.SetState(kStateParsed);
                item.WriteBack(true);
            };
        });
    }

    void SetConnections(int n)
    {
        m_owner->Call([&] { m_slots->SetConnections(n); });
    }

    // Starts the coordinator and waits until it suspends itself (finished or stopped).
    bool RunToEnd()
    {
        StartRun();
        return m_coordinator->WaitSuspended(kDeadline);
    }

    void StartRun()
    {
        m_owner->Call([&] {
            m_task->SetStatus(kStatusDownloading);
            m_coordinator->Start(*m_task, *m_slots, m_status.get());
        });
    }

    // The end of a run as the main window does it: stop flags, slots reset, interrupted items.
    void EndRun()
    {
        m_owner->Call([&] {
            m_coordinator->Stop();
            m_slots->ResetSlots();
            m_task->DownloadList().ResetInterrupted();
        });
        EXPECT_TRUE(m_coordinator->WaitSuspended(kDeadline));
    }

    int StateOf(TPXQItem* item)
    {
        int state = -1;
        m_owner->Call([&] { state = item->State(); });
        return state;
    }

    std::string StatusTextOf(TPXQItem* item)
    {
        std::string text;
        m_owner->Call([&] {
            item->Reload();
            text = item->StatusText();
            item->ReleaseStrings();
        });
        return text;
    }

    // Where an item of this URL is saved.
    std::filesystem::path LocalPath(const std::string& url) const
    {
        return LocalFileName(m_site, URLDirectory(url), url);
    }

    std::string FileText(const std::string& url) const
    {
        return ReadWholeFile(LocalPath(url)).value_or("<missing>");
    }

    bool FileExists(const std::string& url) const { return std::filesystem::exists(LocalPath(url)); }

    // The methods and targets the server saw, in order, e.g. "GET /a.gif".
    std::vector<std::string> Requests(const TTestHttpServer& server, const std::string& method = "") const
    {
        std::vector<std::string> out;
        for (const TReceivedRequest& request : server.Requests())
            if (method.empty() || request.method == method)
                out.push_back(request.method + " " + request.target);
        return out;
    }

    TTempFolder m_folder;
    int m_setups = 0;
    std::string m_site;
    std::unique_ptr<TLoopOwnerThread> m_owner;
    std::unique_ptr<TPXTask> m_task;
    std::unique_ptr<TStatusModel> m_status;
    std::unique_ptr<TSlotList> m_slots;
    std::unique_ptr<TThreadDownload> m_coordinator;
    int m_pagesSavedSeen = 0; // owner thread
};

} // namespace pellix::test
