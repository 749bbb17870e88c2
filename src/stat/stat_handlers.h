// The per-type handlers of the metadata generator (StatHandler contract).
#pragma once

#include <new>

#include "stat/handler_support.h"
#include "stat/line_loop.h"
#include "stat/stat_types.h"

struct HandlerKind;

// Handlers of one log that count a line in one visit when they start from
// one resume point (the HTTP types of the combined proxy log, the types of
// the RBL log): their joint is then the visitor of one loop slot, and hands
// each handler what it counted for it after the loop.
struct JointKind {
  // The joint of counts[0, count), of kinds that name this joint kind; null
  // when out of memory (each handler then has its own slot).
  void* (*create)(void* const* counts, const HandlerKind* const* kinds, size_t count);
  void (*visit)(void* joint, const LoopLine& line);
  // The loop over the primary log for the joint alone (visit inlined).
  ResultCode (*runAlone)(FILE* log, bool mayGrow, LoopSlot* slot, LoopReport report, JobEvent* event);
  // Adds what the joint kept for the handlers to their counts when counted
  // (the loop returned 0), and frees the joint. kErrNoMemory when a table
  // could not grow.
  ResultCode (*finish)(void* joint, bool counted);
};

// A handler's counting for one day, apart from its reading: the driver feeds
// the counts of every handler of one log from one line loop, and writes each
// handler's file when its item's turn comes.
struct HandlerKind {
  uint32_t fields;  // fields of a line the handler reads
  void* (*create)();  // fresh counts; null when out of memory
  void (*visit)(void* counts, const LoopLine& line);
  // Lines of the type's second (compact) log; null when it has none.
  void (*visitCompact)(void* counts, const LoopLine& line);
  void (*write)(void* counts, FILE* output, const OutputSettings& settings);
  void (*destroy)(void* counts);
  // The loop over the primary log for this handler alone (visit inlined).
  ResultCode (*runAlone)(FILE* log, bool mayGrow, LoopSlot* slot, LoopReport report, JobEvent* event);
  const JointKind* joint = nullptr;  // null: the handler always has its own slot
};

// The HandlerKind of a Counts type with operator()(const LoopLine&),
// Write(FILE*, const OutputSettings&) and kFields, and Compact() when the
// type has a compact log.
template <typename Counts>
struct KindOf {
  static void* Create() { return new (std::nothrow) Counts(); }
  static void Visit(void* counts, const LoopLine& line) { (*static_cast<Counts*>(counts))(line); }
  static void VisitCompact(void* counts, const LoopLine& line)
    requires requires(Counts& c, const LoopLine& l) { c.Compact(l); }
  {
    static_cast<Counts*>(counts)->Compact(line);
  }
  static void Write(void* counts, FILE* output, const OutputSettings& settings) {
    static_cast<Counts*>(counts)->Write(output, settings);
  }
  static void Destroy(void* counts) { delete static_cast<Counts*>(counts); }
  static constexpr HandlerKind Make() {
    constexpr bool kCompact = requires(Counts& counts, const LoopLine& line) { counts.Compact(line); };
    if constexpr (kCompact) {
      return {Counts::kFields, Create, Visit, VisitCompact, Write, Destroy, RunVisitorLoop<Counts>};
    } else {
      return {Counts::kFields, Create, Visit, nullptr, Write, Destroy, RunVisitorLoop<Counts>};
    }
  }
};

// The marks of an RBL log line (field 5 "VIRUS", field 6 "SPAM"), read
// once for all the handlers of the RBL log.
struct RblMarks {
  bool virus;
  bool spam;
};
inline RblMarks RblMarksOf(const LoopLine& line) {
  return RblMarks{EqualsNoCase(line.Trimmed(4, 16), "VIRUS"), EqualsNoCase(line.Trimmed(5, 16), "SPAM")};
}
// BIP's counting of one RBL line with its marks, for the RBL log's joint.
void CountBipLine(void* counts, const LoopLine& line, RblMarks marks);
extern const JointKind kRblJoint;

// A kind whose handlers join others of `joint` on one log.
constexpr HandlerKind WithJoint(HandlerKind kind, const JointKind* joint) {
  kind.joint = joint;
  return kind;
}

extern const HandlerKind kSmtpTrafficKind;
extern const HandlerKind kSmtpChartKind;
extern const HandlerKind kPostponerKind;
extern const HandlerKind kRblTrafficKind;
extern const HandlerKind kRblChartKind;
extern const HandlerKind kBipKind;
extern const HandlerKind kHttpAlertKind;
extern const HandlerKind kHttpTrafficKind;
extern const HandlerKind kHttpWebFilterKind;

// "SMTP-IN", "SMTP-OUT": S, 24 H lines, TIP (top), ERR (all).
ResultCode SmtpTrafficHandler(FILE* primary, FILE* secondary, FILE* output, TimeValue day,
                              uint32_t* linesProcessed, uint64_t* lastTime,
                              const OutputSettings* settings, ProgressFile* progress,
                              JobEvent* event);
// "SMTP-CHART": DC, DCA, DC?, DCR, AR, RR.
ResultCode SmtpChartHandler(FILE* primary, FILE* secondary, FILE* output, TimeValue day,
                            uint32_t* linesProcessed, uint64_t* lastTime,
                            const OutputSettings* settings, ProgressFile* progress,
                            JobEvent* event);
// "RBL-IN", "RBL-OUT": S, 24 H lines, TS, TR, TD, TE, VIR, TSD, TVN.
ResultCode RblTrafficHandler(FILE* primary, FILE* secondary, FILE* output, TimeValue day,
                             uint32_t* linesProcessed, uint64_t* lastTime,
                             const OutputSettings* settings, ProgressFile* progress,
                             JobEvent* event);
// "RBL-CHART": SRC, 24 HRC lines, BMT, TVN.
ResultCode RblChartHandler(FILE* primary, FILE* secondary, FILE* output, TimeValue day,
                           uint32_t* linesProcessed, uint64_t* lastTime,
                           const OutputSettings* settings, ProgressFile* progress,
                           JobEvent* event);
// "POST-IN", "POST-OUT": as SMTP traffic, status lines only.
ResultCode PostponerHandler(FILE* primary, FILE* secondary, FILE* output, TimeValue day,
                            uint32_t* linesProcessed, uint64_t* lastTime,
                            const OutputSettings* settings, ProgressFile* progress,
                            JobEvent* event);
// "BIP": SIP and VIP with the unmarked count and the time of the last line.
ResultCode BipHandler(FILE* primary, FILE* secondary, FILE* output, TimeValue day,
                      uint32_t* linesProcessed, uint64_t* lastTime,
                      const OutputSettings* settings, ProgressFile* progress,
                      JobEvent* event);
// "HTTP-AL": S, 24 H lines (all, then the six reason words), IP, VIR. The
// HTTP handlers read the compact log (secondary) first, then the combined log.
ResultCode HttpAlertHandler(FILE* primary, FILE* secondary, FILE* output, TimeValue day,
                            uint32_t* linesProcessed, uint64_t* lastTime,
                            const OutputSettings* settings, ProgressFile* progress,
                            JobEvent* event);
// "HTTP-TR": S and 24 H lines of volume, IP and DM by volume (--units).
ResultCode HttpTrafficHandler(FILE* primary, FILE* secondary, FILE* output, TimeValue day,
                              uint32_t* linesProcessed, uint64_t* lastTime,
                              const OutputSettings* settings, ProgressFile* progress,
                              JobEvent* event);
// "HTTP-WF": MUC (all), MUD, MUU, MUI (--top).
ResultCode HttpWebFilterHandler(FILE* primary, FILE* secondary, FILE* output, TimeValue day,
                                uint32_t* linesProcessed, uint64_t* lastTime,
                                const OutputSettings* settings, ProgressFile* progress,
                                JobEvent* event);
