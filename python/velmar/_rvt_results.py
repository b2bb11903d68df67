"""The result of an equivalent-linear analysis driven by random vibration theory."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any, Optional

import numpy as np

from ._eql import EquivalentLinearResult


@dataclass
class RvtEquivalentLinearResult(EquivalentLinearResult):
    """An EquivalentLinearResult of an RvtMotion, which also gives motions.

    Attributes (beyond EquivalentLinearResult's)
    --------------------------------------------
    input_motion : RvtMotion
        The input motion.
    input, input_depth, angle, scale
        How it was applied (as given to equivalent_linear).
    """

    input_motion: Any = None
    input: str = "outcrop"
    input_depth: float = 0.0
    angle: float = 0.0
    scale: float = 1.0

    def motion(self, depth: float = 0.0, wave: str = "SH", component: Optional[str] = None):
        """The RvtMotion at `depth` (m) of the strain-compatible profile.

        SH by default (the analysis' wave, angle and input); ``wave="P"`` or
        ``"SV"`` gives P-SV motion on the same profile (it needs P
        velocities), `component` as for `propagate`.
        """
        from ._rvt_site import propagate

        return propagate(self.input_motion, self.profile, wave=wave, angle=self.angle, input=self.input,
                         depth=depth, scale=self.scale, input_depth=self.input_depth, component=component)

    def response_spectrum(self, periods: Any, damping: float = 0.05, depth: float = 0.0) -> np.ndarray:
        """PSA at `depth` (the surface by default), in the motion's units."""
        return self.motion(depth).response_spectrum(periods, damping)

    def __repr__(self) -> str:
        return "Rvt" + super().__repr__()
