"""The installed Python modules, as a user's script meets them: imported from
the system's dist-packages folder, used once each.
    python3 -I python_smoke.py <scratch folder>"""
import os
import sys

import numpy as np

import covarne
import tamblo
import vornix

for module in (covarne, vornix, tamblo):
    if not module.__file__.startswith("/usr/lib/python3/dist-packages/"):
        sys.exit(f"{module.__name__} was imported from {module.__file__}")

path = os.path.join(sys.argv[1], "smoke.wav")
x = np.sin(np.arange(1024) * 0.1) * 0.5
covarne.write(path, x, 8000)
y, rate = covarne.read(path)
# Written as trunc(x * 32760), read back as s / 32768.
assert rate == 8000 and np.array_equal(y, np.trunc(x * 32760) / 32768), "covarne read back another signal"
assert np.allclose(vornix.fft(y), np.fft.fft(y)), "vornix.fft differs from numpy"
print("covarne", covarne.Covarne2005().GetVersion(False), "vornix, tamblo", tamblo.CTamblo().GetVersion(0),
      "imported from /usr/lib/python3/dist-packages")
