#pragma once
// CPreviewDlg: the window "预览" over the file chosen in the main dialog. It shows the
// file's first entries as the conversion makes them, the lines it skips among them and
// the file's facts (service/input_preview.h), and holds the two choices that go into the
// next conversion of the file: its encoding and what becomes of repeated headwords.

#include <windows.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "app/framework.h"
#include "service/input_preview.h"

// How a word list is read: detected (no encoding), or in an encoding, an ANSI one with its
// code page (0: the system's).
struct EncodingChoice {
  std::optional<TextEncoding> encoding;
  unsigned codePage = 0;
  bool operator==(const EncodingChoice&) const = default;
};

class CPreviewDlg : public ui::CDialogBase {
 public:
  // The file request names, read with these choices to start with.
  CPreviewDlg(HWND owner, const ConvertRequest& request, EncodingChoice encoding, DuplicatePolicy duplicates);
  ~CPreviewDlg() override;

  // The choices as the window was left.
  EncodingChoice Encoding() const { return m_encoding; }
  DuplicatePolicy Duplicates() const { return m_duplicates; }

 protected:
  MessageMap GetMessageMap() const override;
  BOOL OnInitDialog() override;
  void OnDestroy() override;

 private:
  void OnEncodingChanged();
  void OnDuplicatesChanged();
  void OnClose();
  LRESULT OnPreviewDone(WPARAM wParam, LPARAM lParam);
  LRESULT OnSize(WPARAM wParam, LPARAM lParam);
  LRESULT OnGetMinMaxInfo(WPARAM wParam, LPARAM lParam);
  LRESULT OnNotify(WPARAM wParam, LPARAM lParam);

  // Starts reading the file with the current encoding; a reading still going is stopped
  // first, and what it may have posted is ignored.
  void StartReading();
  // Stops the reading, waits for its thread and forgets whatever it posted.
  void StopReading();
  void FillEncodings();
  void Show(const InputPreview& preview);
  // Places the controls for the client area's size.
  void Layout();

  ConvertRequest m_request;
  EncodingChoice m_encoding;
  DuplicatePolicy m_duplicates;
  // The encoding items of the drop-down in its order.
  std::vector<EncodingChoice> m_choices;
  std::optional<TextEncoding> m_detected;
  HANDLE m_thread = nullptr;
  std::atomic<bool> m_running{false};
  // Each reading's number; a result of another than the last is stale.
  WPARAM m_reading = 0;
  SIZE m_minimum{};
};
