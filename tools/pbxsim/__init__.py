"""PBX simulator: a loopback stand-in for the hosted PBX's REST interface."""
