"""summary: one row per condition of the trials of a study, the table researchers start from.

A condition is the seven values the design varies: targets, distractors, borders, blank wait,
instant shift, wait length and rotation angle. Only complete trials enter the means; trials cut
short are counted beside them. Reading the files belongs to reader.py.
"""

import pandas as pd

from .reader import CONDITION

SUMMARY_COLUMNS = CONDITION + [
    "trials", "trials_cut_short", "hits_mean", "hits_sd", "false_alarms_mean",
    "false_alarms_sd", "distractor_hits_mean", "empty_hits_mean", "score_mean", "score_sd",
    "hit_rate"]


def withmeasures(trials):
    """The trials with the per-trial measures the summary and the plots use: false alarms
    (distractor and empty hits) and the hit rate (targets hit over targets shown)."""
    out = trials.copy()
    out["false_alarms"] = out["distracts_hit"] + out["empty_hit"]
    out["hit_rate"] = out["targets_hit"] / out["targets"].where(out["targets"] > 0)
    return out


def summarize(trials, by=()):
    """Per condition: complete trials, trials cut short, mean and standard deviation (n - 1)
    of target hits, false alarms and score, the mean distractor and empty hits, and the hit
    rate: all targets hit over all targets shown in the condition's complete trials. `by`
    names columns to summarise within first (participant, say): their columns lead the
    table, and trials with one of them missing are left out."""
    keys = list(by) + CONDITION
    if trials.empty:
        return pd.DataFrame(columns=list(by) + SUMMARY_COLUMNS)
    t = withmeasures(trials)
    done = t[t["complete"].astype(bool)]
    groups = done.groupby(keys)
    out = pd.DataFrame({
        "trials": groups.size(),
        "hits_mean": groups["targets_hit"].mean(),
        "hits_sd": groups["targets_hit"].std(),
        "false_alarms_mean": groups["false_alarms"].mean(),
        "false_alarms_sd": groups["false_alarms"].std(),
        "distractor_hits_mean": groups["distracts_hit"].mean(),
        "empty_hits_mean": groups["empty_hit"].mean(),
        "score_mean": groups["score"].mean(),
        "score_sd": groups["score"].std(),
        "hit_rate": groups["targets_hit"].sum() / groups["targets"].sum(),
    })
    cut = t[~t["complete"].astype(bool)].groupby(keys).size().rename("trials_cut_short")
    out = out.join(cut, how="outer")
    out["trials"] = out["trials"].fillna(0).astype(int)
    out["trials_cut_short"] = out["trials_cut_short"].fillna(0).astype(int)
    return out.reset_index()[list(by) + SUMMARY_COLUMNS]
