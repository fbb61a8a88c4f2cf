"""The parts of scripts/mutate.py: mutation sites, samples, processes, workers,
results and the session that runs them."""
import os

# The repository: the work tree the sources are read from.
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
