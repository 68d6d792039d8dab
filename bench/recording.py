#!/usr/bin/env python3
"""What recording costs: the application headless on the synthetic camera (640 x 480 upright,
24 frames a second) showing the live view for a while, then, in the same run, recording for as
long (with a test tone as the sound). Prints the processes' CPU side by side, the frames
recorded and dropped, how far the sound and the pictures drift apart at the end of the clip,
the encoder and the clip's size per minute.

    bench/recording.py [--seconds 60] [--quorbit build/quorbit]
"""
import argparse
import os
import re
import subprocess
import tempfile
import time

PTS = re.compile(r"\((fakesink\d):sink\).*?pts: (\d+):(\d+):([\d.]+), duration: (\d+):(\d+):([\d.]+)")


def run(quorbit, script, folder, seconds):
    env = dict(os.environ,
               QUORBIT_CONFIG_DIR=os.path.join(folder, "config"),
               QUORBIT_VIDEOS_DIR=os.path.join(folder, "videos"),
               QUORBIT_PICTURES_DIR=os.path.join(folder, "photos"),
               QUORBIT_CAMERA_ROTATION="0",
               QUORBIT_AUDIO_SOURCE="audiotestsrc is-live=true wave=sine",
               SDL_AUDIODRIVER="dummy")
    path = os.path.join(folder, "run.script")
    with open(path, "w") as f:
        f.write("wait-frames 2\ntap-control picker-close\nwait 500\n" + script)
    start = time.monotonic()
    child = subprocess.Popen([quorbit, "--headless", "--camera", "synthetic", "--script", path],
                             env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    err = child.stderr.read()
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.monotonic() - start
    if status != 0:
        raise SystemExit(f"quorbit failed ({status}):\n{err}")
    return usage.ru_utime + usage.ru_stime, wall, err


def stream_ends(clip):
    """The end (pts + duration, seconds) of the last buffer of each stream of the clip."""
    out = subprocess.run(["gst-launch-1.0", "-v", "filesrc", f"location={clip}", "!", "qtdemux",
                          "name=d", "d.video_0", "!", "queue", "!", "fakesink", "silent=false",
                          "d.audio_0", "!", "queue", "!", "fakesink", "silent=false"], capture_output=True, text=True).stdout
    ends = {}
    for m in PTS.finditer(out):
        pts = int(m[2]) * 3600 + int(m[3]) * 60 + float(m[4])
        dur = int(m[5]) * 3600 + int(m[6]) * 60 + float(m[7])
        ends[m[1]] = max(ends.get(m[1], 0), pts + dur)
    return ends.get("fakesink0", 0), ends.get("fakesink1", 0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--quorbit", default="build/quorbit")
    args = parser.parse_args()
    ms = args.seconds * 1000
    with tempfile.TemporaryDirectory(prefix="quorbit-recording-bench-") as folder:
        live_cpu, live_wall, _ = run(args.quorbit, f"wait {ms}\nquit\n", folder, args.seconds)
        rec_cpu, rec_wall, err = run(args.quorbit,
                                     f"tap-control mode\ntap-control shutter\nwait {ms}\n"
                                     "tap-control shutter\nwait 500\nquit\n", folder, args.seconds)
        clips = [os.path.join(folder, "videos", n) for n in os.listdir(os.path.join(folder, "videos"))]
        if len(clips) != 1:
            raise SystemExit(f"expected one clip, found {clips}")
        ended = re.search(r"recording ended: (\d+) frames recorded, (\d+) dropped", err)
        encoder = re.search(r"recording \d+ x \d+ with (\S+) .* into (\w+)", err)
        video_end, audio_end = stream_ends(clips[0])
        size = os.path.getsize(clips[0])
        print(f"{'run':28} {'CPU s':>8} {'wall s':>8} {'cores':>6}")
        print(f"{'live view alone':28} {live_cpu:8.1f} {live_wall:8.1f} {live_cpu / live_wall:6.2f}")
        print(f"{'live view and recording':28} {rec_cpu:8.1f} {rec_wall:8.1f} {rec_cpu / rec_wall:6.2f}")
        print(f"recording costs {rec_cpu / rec_wall - live_cpu / live_wall:.2f} cores more "
              f"(goal: at most 1)")
        print(f"encoder: {encoder[1]} into {encoder[2]}")
        print(f"frames recorded {ended[1]}, dropped {ended[2]} (goal: none dropped)")
        print(f"video ends at {video_end:.3f} s, sound at {audio_end:.3f} s: "
              f"drift {abs(video_end - audio_end) * 1000:.0f} ms (goal: under 40 ms)")
        print(f"clip {size / 1e6:.1f} MB: {size / 1e6 / (video_end / 60):.1f} MB a minute")


if __name__ == "__main__":
    main()
