#include "document/DocHost.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

namespace zerimo {

void CHeadlessHost::ShowMessage(const std::string& text, MessageIcon) {
    messages.push_back(text);
    if (printMessages) std::fprintf(stderr, "message: %s\n", text.c_str());
}

SaveChangesAnswer CHeadlessHost::AskSaveChanges(const std::string& question) {
    questions.push_back(question);
    if (printMessages) std::fprintf(stderr, "question: %s\n", question.c_str());
    return saveChangesAnswer;
}

bool CHeadlessHost::AskSavePath(const SaveDialogRequest& request, std::string& chosen) {
    saveDialogs.push_back(request);
    if (savePath.empty()) return false;
    chosen = savePath;
    return true;
}

void CHeadlessHost::PostToView(uint32_t, std::function<void()> handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.push_back(std::move(handler));
}

void CHeadlessHost::AddToRecentFiles(const std::string& path) {
    // The framework's list: most recent first, no duplicates, four entries.
    recentFiles.erase(std::remove(recentFiles.begin(), recentFiles.end(), path), recentFiles.end());
    recentFiles.insert(recentFiles.begin(), path);
    if (recentFiles.size() > 4) recentFiles.resize(4);
}

void CHeadlessHost::RunPosted() {
    for (;;) {
        std::vector<std::function<void()>> batch;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            batch.swap(posted_);
        }
        if (batch.empty()) return;
        for (auto& h : batch) h();
    }
}

void CHeadlessHost::WaitForPosts(const std::function<bool()>& pending) {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!posted_.empty()) return;
        }
        if (!pending()) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

} // namespace zerimo
