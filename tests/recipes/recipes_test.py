"""The cluster recipes as users copy them, run on this machine.

The README's GNU parallel block runs with its hosts set to this machine and
its shared folder a scratch folder; the Kubernetes Jobs' pod commands run
once per index with /work a scratch folder. Each joined video must equal the
same job rendered whole: every decoded frame with its time, and the audio
packets.

    recipes_test.py QUILLMERE SOURCE_DIR
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

import yaml

QUILLMERE = os.path.realpath(sys.argv[1]) if len(sys.argv) > 1 else ""
SOURCE = sys.argv[2] if len(sys.argv) > 2 else ""
KUBERNETES = os.path.join(SOURCE, "scripts", "kubernetes")
# The worst frame of a joined H.264 video against the whole render's, in dB:
# both are encodings of the same pictures, well above visible difference.
kLeastPsnr = 35.0


# The key under which a Kubernetes object holds its body.
kBody = "spec"


def pod_template(job):
    """The pod a Job's manifest runs."""
    return job[kBody]["template"][kBody]


def run(command, cwd, env=None):
    done = subprocess.run(command, cwd=cwd, env=env, shell=isinstance(command, str),
                          executable="/bin/bash" if isinstance(command, str) else None,
                          capture_output=True, text=True, timeout=300)
    if done.returncode != 0:
        raise AssertionError(f"{command!r} exited {done.returncode}: {done.stderr[-2000:]}")
    return done.stdout


def make_clips(folder, main, clip):
    run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=96x64:rate=25",
         "-f", "lavfi", "-i", "sine=frequency=330:sample_rate=48000", "-t", "2",
         "-c:v", "libx264", "-g", "10", "-bf", "2", "-pix_fmt", "yuv420p", "-c:a", "aac",
         "-shortest", main], folder)
    run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "mandelbrot=size=32x24:rate=25",
         "-t", "0.8", "-c:v", "libx264", "-pix_fmt", "yuv420p", clip], folder)


def hashes(path, stream):
    copy = ["-c", "copy"] if stream == "a" else []
    return run(["ffmpeg", "-v", "error", "-i", path, "-map", f"0:{stream}", *copy,
                "-f", "framemd5", "-"], os.path.dirname(path))


def whole_render(segment_command, output):
    """The segment command with its segment and output taken out: the same
    job, rendered whole."""
    command = re.sub(r'--segment\s+\S+', "", segment_command)
    return re.sub(r'-o\s+"[^"]*"', f'-o "{output}"', command, count=1)


class Recipes(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="quillmere-recipes-")
        self.addCleanup(shutil.rmtree, self.scratch)
        tools = os.path.join(self.scratch, "bin")
        os.mkdir(tools)
        os.symlink(QUILLMERE, os.path.join(tools, "quillmere"))
        self.env = dict(os.environ, PATH=tools + os.pathsep + os.environ["PATH"],
                        HOME=self.scratch)  # parallel keeps its notes in HOME

    def assert_same_video(self, joined, whole):
        """The recipes write H.264, which a split render encodes part by
        part: the joined video has the whole render's frames at its times
        and its audio packets, and pictures all but equal to its."""
        self.assertTrue(os.path.exists(joined), f"{joined} was not written")

        def times(path):
            return [line.split(",")[:4] for line in hashes(path, "v").splitlines()
                    if not line.startswith("#")]
        self.assertEqual(times(joined), times(whole))
        self.assertEqual(hashes(joined, "a"), hashes(whole, "a"))
        report = subprocess.run(
            ["ffmpeg", "-v", "info", "-i", joined, "-i", whole, "-lavfi", "psnr", "-f", "null",
             "-"], capture_output=True, text=True, timeout=300).stderr
        least = float(re.search(r"PSNR .*?min:([\d.]+|inf)", report).group(1))
        self.assertGreater(least, kLeastPsnr, report[-500:])

    def test_gnu_parallel_block_as_written(self):
        with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as readme:
            text = readme.read()
        section = text[text.index("### GNU parallel over ssh"):]
        block = re.search(r"```sh\n(.*?)```", section, re.S).group(1)
        first, rest = block.split("\n", 1)
        self.assertTrue(first.startswith("N="), first)
        shared = os.path.join(self.scratch, "shared")
        os.mkdir(shared)
        make_clips(shared, "main.mp4", "clip.mp4")
        run(f"N=4 SHARED={shared} HOSTS=:\n{rest}", self.scratch, self.env)
        segment = re.search(r"(quillmere render .*?)\nquillmere join", rest, re.S).group(1)
        whole = os.path.join(self.scratch, "whole.mp4")
        run(f"SHARED={shared}\n" + whole_render(segment.replace("\\\n", " "), whole),
            self.scratch, self.env)
        self.assert_same_video(os.path.join(shared, "out.mp4"), whole)

    def manifest(self, name):
        with open(os.path.join(KUBERNETES, name), encoding="utf-8") as stream:
            return yaml.safe_load(stream)

    def pod_command(self, job, work):
        container = pod_template(job)["containers"][0]
        self.assertEqual(container["command"], ["sh", "-c"])
        self.assertEqual(container["volumeMounts"][0]["mountPath"], "/work")
        return container["args"][0].replace("/work", work)

    def test_kubernetes_jobs(self):
        volume = self.manifest("volume.yaml")
        self.assertEqual(volume[kBody]["accessModes"], ["ReadWriteMany"])
        segments = self.manifest("segments-job.yaml")
        join = self.manifest("join-job.yaml")
        indexed = segments[kBody]
        self.assertEqual(indexed["completionMode"], "Indexed")
        for job in (segments, join):
            claim = pod_template(job)["volumes"][0]["persistentVolumeClaim"]
            self.assertEqual(claim["claimName"], volume["metadata"]["name"])

        work = os.path.join(self.scratch, "work")
        os.mkdir(work)
        make_clips(work, "main.mp4", "clip.mp4")
        segment = self.pod_command(segments, work)
        count = int(re.search(r'--segment "\$JOB_COMPLETION_INDEX/(\d+)"', segment).group(1))
        self.assertEqual(count, indexed["completions"])
        for index in range(count):
            run(["sh", "-c", segment], work,
                dict(self.env, JOB_COMPLETION_INDEX=str(index)))
        run(["sh", "-c", self.pod_command(join, work)], work, self.env)

        whole = os.path.join(self.scratch, "whole.mp4")
        render = segment.split("&&", 1)[1].replace("exec ", "", 1)
        run(["sh", "-c", whole_render(render, whole)], work, self.env)
        self.assert_same_video(os.path.join(work, "out.mp4"), whole)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
