"""What several test modules share."""

from __future__ import annotations

from types import SimpleNamespace

from ntpepmap_cli import _native

ENGINE_DEFAULTS = dict(code=1, mismatch="mask", frameshifts="mask", upper_case=False, resolve_ambiguity=False,
                       t_for_u=False, keep_reports=False, locate=False, both_strands=False,
                       trim_stop=False, terminal_stops=(), keep_short=False, stops="keep",
                       fasta_text=False, wrap=0, threads=0)


def engine_settings(**changes):
    """The settings the engine reads by name: its defaults, with changes."""
    unknown = set(changes) - set(ENGINE_DEFAULTS)
    assert not unknown, f"not an engine setting: {unknown}"
    return SimpleNamespace(**{**ENGINE_DEFAULTS, **changes})


def translate(pairs, stem="stem", **settings):
    """The engine's result for (name, row, CDS) triples."""
    proteins = [(name, row) for name, row, _ in pairs]
    return _native.translate_locus(stem, engine_settings(**settings), proteins,
                                   [cds for _, _, cds in pairs])
