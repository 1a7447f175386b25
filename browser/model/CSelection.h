#pragma once
// Which items are selected, each named by the key its owner knows it by (a
// path in the thumbnail pane, an item pointer in the photo strip), and a
// notification after every change. The order of the items is the owner's:
// the selection is a set. Safe on any thread; the notification runs on the
// changing thread, outside the lock.

#include <functional>
#include <mutex>
#include <unordered_set>
#include <utility>
#include <vector>

template <class Key>
class CSelection {
public:
    // Adds a listener, told after each change (once at the end of a Batch
    // that changed anything); it must outlive the selection or be dropped.
    void Listen(std::function<void()> listener) {
        std::lock_guard<std::mutex> lock(m_lock);
        m_listeners.push_back(std::move(listener));
    }
    void DropListeners() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_listeners.clear();
    }

    bool IsSelected(const Key& key) const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_keys.count(key) != 0;
    }
    bool Empty() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_keys.empty();
    }
    size_t Count() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_keys.size();
    }

    // Each returns true when the selection changed.
    bool Set(const Key& key, bool selected) {
        return Change([&] { return selected ? m_keys.insert(key).second : m_keys.erase(key) != 0; });
    }
    bool Toggle(const Key& key) {
        return Change([&] {
            if (m_keys.erase(key) == 0)
                m_keys.insert(key);
            return true;
        });
    }
    bool Clear() {
        return Change([&] {
            const bool had = !m_keys.empty();
            m_keys.clear();
            return had;
        });
    }
    // Exactly keys selected.
    bool Assign(const std::vector<Key>& keys) {
        return Change([&] {
            std::unordered_set<Key> next(keys.begin(), keys.end());
            const bool changed = next != m_keys;
            m_keys = std::move(next);
            return changed;
        });
    }
    // Keeps the selected keys keep accepts.
    template <class Keep>
    bool Retain(Keep keep) {
        return Change([&] {
            bool changed = false;
            for (auto it = m_keys.begin(); it != m_keys.end();) {
                if (keep(*it)) {
                    ++it;
                } else {
                    it = m_keys.erase(it);
                    changed = true;
                }
            }
            return changed;
        });
    }
    // A selected item known by a new key (a renamed file) stays selected.
    bool Rename(const Key& from, const Key& to) {
        return Change([&] {
            if (from == to || m_keys.erase(from) == 0)
                return false;
            m_keys.insert(to);
            return true;
        });
    }

    // Holds the notifications back until the outermost batch ends, so that
    // a sweep over many items tells once.
    class Batch {
    public:
        explicit Batch(CSelection& selection) : m_selection(selection) {
            std::lock_guard<std::mutex> lock(m_selection.m_lock);
            ++m_selection.m_batch;
        }
        ~Batch() {
            std::vector<std::function<void()>> tell;
            {
                std::lock_guard<std::mutex> lock(m_selection.m_lock);
                if (--m_selection.m_batch == 0 && m_selection.m_pending) {
                    m_selection.m_pending = false;
                    tell = m_selection.m_listeners;
                }
            }
            for (const auto& listener : tell)
                listener();
        }
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        CSelection& m_selection;
    };

private:
    template <class Edit>
    bool Change(Edit edit) {
        std::vector<std::function<void()>> tell;
        bool changed;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            changed = edit();
            if (changed) {
                if (m_batch > 0)
                    m_pending = true;
                else
                    tell = m_listeners;
            }
        }
        for (const auto& listener : tell)
            listener();
        return changed;
    }

    mutable std::mutex m_lock;
    std::unordered_set<Key> m_keys;
    std::vector<std::function<void()>> m_listeners;
    int m_batch = 0;
    bool m_pending = false;
};
