// The per-type handlers of the metadata generator (StatHandler contract).
#pragma once

#include "stat/stat_types.h"

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
