// LGAbstractDatabaseLogger: the base of loggers that store messages in a database, in
// batches. Each message goes to db_log(); a save (db_save(), or db_saveAndDelete() when
// deleteOnEverySave is set) runs when saveThreshold messages are pending or saveInterval
// seconds after the first pending one, and on flush or removal from the hub. While maxAge
// is positive, db_delete() runs every deleteInterval seconds and at once when maxAge is
// lowered. The hooks do nothing here; a host derives a logger and overrides them.
//
// Intervals run on the process clock (virtual time in tests).
//
// Thread-safety: the public operations may be called from any thread, except where a
// REQUIRES line says otherwise. Counters, timers and every hook are touched only on the
// logger's queue; the timers deliver there.
#pragma once

#include <cstdint>
#include <optional>

#include "PindleCore/logging/LGAbstractLogger.hpp"
#include "platform/dispatch/DispatchTime.hpp"
#include "platform/dispatch/DispatchTimerSource.hpp"

namespace pindle {

class LGAbstractDatabaseLogger : public LGAbstractLogger {
  public:
    static constexpr std::uint64_t defaultSaveThreshold = 500;
    static constexpr platform::TimeInterval defaultSaveInterval = 60;
    static constexpr platform::TimeInterval defaultMaxAge = 7 * 24 * 60 * 60;
    static constexpr platform::TimeInterval defaultDeleteInterval = 5 * 60;

    ~LGAbstractDatabaseLogger() override;

    // REQUIRES (getters): not on the logging queue or the logger's queue.
    std::uint64_t saveThreshold() const;
    // 0: never save by count. Saves at once when as many are pending already.
    void setSaveThreshold(std::uint64_t threshold);
    platform::TimeInterval saveInterval() const;
    // 0 or less: no save timer.
    void setSaveInterval(platform::TimeInterval interval);
    platform::TimeInterval maxAge() const;
    // 0 or less: never delete. Lowering a positive age (or making it positive) deletes at
    // once.
    void setMaxAge(platform::TimeInterval age);
    platform::TimeInterval deleteInterval() const;
    // 0 or less: no delete timer.
    void setDeleteInterval(platform::TimeInterval interval);
    bool deleteOnEverySave() const;
    void setDeleteOnEverySave(bool deleteOnEverySave);

    // Save pending messages / delete old entries now, on the logger's queue.
    void savePendingLogEntries();
    void deleteOldLogEntries();

    void logMessage(const LGLogMessage& logMessage) override;
    void didAddLogger() override;
    void willRemoveLogger() override;
    void flush() override;

  protected:
    explicit LGAbstractDatabaseLogger(std::string loggerName);

    // Stores one message; returns whether it was stored (only stored messages count).
    virtual bool db_log(const LGLogMessage& logMessage);
    virtual void db_save() {}
    virtual void db_delete() {}
    virtual void db_saveAndDelete() {}

  private:
    void performSaveAndSuspendSaveTimer();
    void performDelete();
    void destroySaveTimer();
    void updateAndResumeSaveTimer();
    void createSuspendedSaveTimer();
    void destroyDeleteTimer();
    void updateDeleteTimer();
    void createAndStartDeleteTimer();
    std::shared_ptr<LGAbstractDatabaseLogger> shared();

    // Touched only on the logger's queue.
    std::uint64_t saveThreshold_ = defaultSaveThreshold;
    platform::TimeInterval saveInterval_ = defaultSaveInterval;
    platform::TimeInterval maxAge_ = defaultMaxAge;
    platform::TimeInterval deleteInterval_ = defaultDeleteInterval;
    bool deleteOnEverySave_ = false;
    bool saveTimerSuspended_ = false;
    std::uint64_t unsavedCount_ = 0;
    std::optional<platform::DispatchTime> unsavedTime_;
    platform::DispatchTimerSourcePtr saveTimer_;
    std::optional<platform::DispatchTime> lastDeleteTime_;
    platform::DispatchTimerSourcePtr deleteTimer_;
};

}  // namespace pindle
