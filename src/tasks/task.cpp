#include "tasks/task.h"

#include <algorithm>
#include <cstdio>

namespace migrator {

std::string MigrationOptionsText(const MigrationOptions& o) {
  std::string text;
  auto add = [&text](bool on, const char* name) {
    if (!on) return;
    if (!text.empty()) text += ", ";
    text += name;
  };
  add(o.typed, "Keep column types (--typed)");
  add(o.splitSheets, "Continue long tables on new sheets (--split-sheets)");
  add(o.filters, "Filter buttons on headers (--filters)");
  add(o.replaceTables, "Overwrite the same-name table (--replace-tables)");
  add(o.replaceWorkbook, "Overwrite the same-name database (--replace-workbook)");
  return text.empty() ? "none" : text;
}

const char* const kTaskColumns[10] = {"NO.",         "Progress",   "Type",        "State",
                                      "Source DBMS", "Source DB",  "Source T(V)", "Targert DBMS",
                                      "Target DB",   "Target T(V)"};

TaskId TaskList::Append(Task task) {
  std::lock_guard lock(m_);
  task.id = nextId_++;
  task.hasBar = false;
  tasks_.push_back(std::move(task));
  return tasks_.back().id;
}

std::size_t TaskList::Size() const {
  std::lock_guard lock(m_);
  return tasks_.size();
}

bool TaskList::Empty() const {
  return Size() == 0;
}

std::vector<Task> TaskList::Snapshot() const {
  std::lock_guard lock(m_);
  return tasks_;
}

std::optional<Task> TaskList::Find(TaskId id) const {
  std::lock_guard lock(m_);
  for (const auto& t : tasks_)
    if (t.id == id) return t;
  return std::nullopt;
}

int TaskList::MoveUp(int index) {
  std::lock_guard lock(m_);
  if (index <= 0 || index >= static_cast<int>(tasks_.size())) return index;
  std::swap(tasks_[index - 1], tasks_[index]);
  return index - 1;
}

int TaskList::MoveDown(int index) {
  std::lock_guard lock(m_);
  if (index < 0 || index + 1 >= static_cast<int>(tasks_.size())) return index;
  std::swap(tasks_[index], tasks_[index + 1]);
  return index + 1;
}

bool TaskList::Delete(int index) {
  std::lock_guard lock(m_);
  if (index < 0 || index >= static_cast<int>(tasks_.size())) return false;
  tasks_.erase(tasks_.begin() + index);
  return true;
}

void TaskList::Clear() {
  std::lock_guard lock(m_);
  tasks_.clear();
}

std::optional<Task> TaskList::NextWaiting(const std::vector<TaskId>& skip) const {
  std::lock_guard lock(m_);
  for (const auto& t : tasks_) {
    if (t.state != kTaskWaiting) continue;
    if (std::find(skip.begin(), skip.end(), t.id) != skip.end()) continue;
    return t;
  }
  return std::nullopt;
}

bool TaskList::AnyWaiting() const {
  std::lock_guard lock(m_);
  return std::any_of(tasks_.begin(), tasks_.end(),
                     [](const Task& t) { return t.state == kTaskWaiting; });
}

void TaskList::MarkStarted(TaskId id, std::int32_t stamp) {
  std::lock_guard lock(m_);
  for (auto& t : tasks_) {
    if (t.id != id) continue;
    t.startStamp = stamp;
    t.progress = 0;
    t.rows = {};
    t.stateText = "Working";
  }
}

void TaskList::SetProgress(TaskId id, int progress) {
  std::lock_guard lock(m_);
  for (auto& t : tasks_)
    if (t.id == id) t.progress = std::clamp(progress, 0, 100);
}

void TaskList::SetRowProgress(TaskId id, const RowProgress& rows) {
  std::lock_guard lock(m_);
  for (auto& t : tasks_)
    if (t.id == id) t.rows = rows;
}

bool TaskList::Finish(TaskId id, bool success) {
  std::lock_guard lock(m_);
  for (auto& t : tasks_) {
    if (t.id != id) continue;
    t.state = success ? kTaskSucceeded : kTaskFailed;
    t.stateText = success ? "SUCCESS" : "FAILURE";
    return true;
  }
  return false;
}

bool TaskList::Tick(bool taskTabCurrent) {
  std::lock_guard lock(m_);
  if (!taskTabCurrent) return false;
  if (refreshCounter_ < 4) {
    ++refreshCounter_;
    return false;
  }
  refreshCounter_ = 0;
  return true;
}

void TaskList::ForceRefresh() {
  std::lock_guard lock(m_);
  refreshCounter_ = 5;
}

std::vector<TaskRow> TaskList::Rebuild() {
  std::lock_guard lock(m_);
  std::vector<TaskRow> rows;
  rows.reserve(tasks_.size());
  int n = 0;
  for (auto& t : tasks_) {
    if (!t.hasBar) {
      t.hasBar = true;
      if (t.progress == 0) t.progress = 5;
    }
    TaskRow r;
    r.id = t.id;
    char no[16];
    std::snprintf(no, sizeof no, "%02d", ++n);
    r.cells[0] = no;
    r.cells[1] = " ";
    r.cells[2] = t.kind == kMigrationTask ? "MIGRATION" : t.kind == kBackupTask ? "BACKUP" : "";
    r.cells[3] = t.stateText;
    r.cells[4] = t.sourceDbms;
    r.cells[5] = t.sourceDatabase;
    r.cells[6] = t.sourceObject;
    r.cells[7] = t.targetDbms;
    r.cells[8] = t.targetDatabase;
    r.cells[9] = t.targetObject;
    r.progress = t.progress;
    r.rows = t.rows;
    r.state = t.state;
    r.working = t.state == kTaskWaiting && t.stateText == "Working";
    rows.push_back(std::move(r));
  }
  refreshCounter_ = 0;
  return rows;
}

}  // namespace migrator
