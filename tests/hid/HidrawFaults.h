// The control of libhidraw_faults, a library preloaded before umockdev's
// own that makes system calls on hidraw nodes fail as the kernel may make
// them fail: open, read, write and poll, on descriptors opened by the path
// /dev/hidrawN only (the test's own descriptors and every other file pass
// untouched). A test sets the faults of a run, runs it, and reads back how
// often each kind of call was made on a node and how many were failed.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

enum THidrawCall { kHidrawOpen = 0, kHidrawRead, kHidrawWrite, kHidrawPoll, kHidrawCallKinds };

// One fault: the calls of one kind (on one node, or on any) are counted
// from 1 since the faults were set, and calls First .. First+Times-1 fail;
// with Every > 0 that pattern repeats every Every calls. A failing call
// does nothing and sets Error, except:
// - a write with ShortBy > 0 takes the report cut by that many bytes (the
//   node is a stream underneath: the cut report goes out padded with
//   zeros to its length) and returns the shorter count;
// - with Vanish set the node is gone from that call on, as an unplugged
//   device's is: set on reads, it goes right before the read that the
//   poll seeing its report woke (or that found the report queued); the
//   report is lost, reads fail with EIO, writes and opens with ENODEV,
//   polls see POLLERR | POLLHUP.
struct THidrawFault {
  int Call;          // THidrawCall
  const char* Node;  // "/dev/hidraw1", or null for every node
  int First;
  int Times;
  int Every;
  int Error;
  int ShortBy;
  int Vanish;
  // Polls only: counts only polls that wait on a node for one of these
  // events (POLLOUT: a write waiting for room); 0: every poll.
  short Events;
};

// Replaces the faults (the counts start again); null/0 clears them. The
// array is copied, Node strings are not: they must outlive the faults.
void hidraw_faults_set(const struct THidrawFault* AFaults, int ACount);
// Calls of AKind made on nodes since the faults were set.
int hidraw_faults_calls(int AKind);
// Calls failed (or cut, or nodes vanished) since the faults were set.
int hidraw_faults_hits(void);

#ifdef __cplusplus
}
#endif
